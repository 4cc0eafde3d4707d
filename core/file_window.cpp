#include <algorithm>
#include <cstring>
#include <new>

#include "core/report_core.h"
#include "core/text_scan.h"

namespace paginor {

std::int32_t CReportCore::ReadFileRange(std::int64_t fileOffset, std::int64_t destination,
                                        std::int64_t length) {
    if (!m_file.isOpen()) {
        raise(1001);
    }
    if (m_window.empty()) {
        raise(1002);
    }
    const std::int64_t size = windowSize();
    if (destination < 0 || destination > size) {
        raise(1003);
    }
    std::int32_t result = 0;
    std::int64_t wanted = length;
    if (length == 0) {
        wanted = std::min(size - destination, m_fileSize - fileOffset);
    } else if (fileOffset + length > m_fileSize) {
        wanted = std::max<std::int64_t>(0, m_fileSize - fileOffset);
        result = 1010;
    }
    wanted = std::clamp<std::int64_t>(wanted, 0, size - destination);
    std::int64_t got = m_file.readAt(fileOffset, m_window.data() + destination, wanted);
    if (got < 0) {
        SetSystemErrorText("RTBRd1", m_file.errorNumber());
        raise(-1);
    }
    if (got < wanted) {
        raiseFileCut();
    }
    m_windowStart = fileOffset - destination;
    if (length == 0) {
        m_windowValid = destination + got;
    } else {
        m_windowValid = std::min(m_windowValid + destination + length, size);
    }
    return result;
}

std::int32_t CReportCore::SeekWindow(std::int64_t offset, std::int64_t& index) {
    if (!m_file.isOpen()) {
        raise(1001);
    }
    if (m_window.empty()) {
        raise(1002);
    }
    if (offset < 0 || offset >= m_fileSize) {
        raise(1005);
    }
    const std::int64_t start = m_windowStart;
    const std::int64_t size = windowSize();
    const std::int64_t i = offset - start;
    if (start <= offset && i < size - kMoveMargin) {
        index = i;
        return 0;
    }
    std::int32_t result = 0;
    if (offset >= start) {
        if (start + m_windowValid >= m_fileSize) {
            index = i;
            return 0;
        }
        const std::int64_t beyond = offset - (start + size);
        if (beyond >= kLookBehind) {
            result = ReadFileRange(offset - kLookBehind, 0, 0);
        } else {
            const std::int64_t keepFrom = i - kLookBehind;
            const std::int64_t keep = size - keepFrom;
            std::memmove(m_window.data(), m_window.data() + keepFrom,
                         static_cast<std::size_t>(keep));
            if (start + size >= m_fileSize) {
                raise(1004);
            }
            result = ReadFileRange(start + size, keep, 0);
        }
        index = kLookBehind;
    } else {
        const std::int64_t newStart = std::max<std::int64_t>(0, offset - kLookBehind);
        const std::int64_t shift = start - newStart;
        if (shift < size) {
            std::memmove(m_window.data() + shift, m_window.data(),
                         static_cast<std::size_t>(size - shift));
            result = ReadFileRange(newStart, 0, shift);
        } else {
            result = ReadFileRange(newStart, 0, 0);
        }
        index = offset - newStart;
    }
    return result;
}

// A read that ends before the size the file had when it was opened: another program rewrote or
// cut the file meanwhile, and what is read now would not be the report that was split into pages.
void CReportCore::raiseFileCut() {
    raiseText("The report file " + m_reportPath +
              " was changed or cut on disk after it was opened: it no longer holds the " +
              std::to_string(m_fileSize) + " bytes it held then. Open the report again.");
}

const char* CReportCore::windowAt(std::int64_t offset, std::int64_t& available) {
    std::int64_t index = 0;
    SeekWindow(offset, index);
    available = m_windowValid - index;
    return m_window.data() + index;
}

const char* CReportCore::windowBackFrom(std::int64_t offset, std::int64_t& segmentStart) {
    std::int64_t index = 0;
    SeekWindow(offset, index);
    segmentStart = m_windowStart;
    return m_window.data() + index;
}

std::int64_t CReportCore::findByte(std::int64_t from, char c) {
    std::int64_t at = from;
    while (at < m_fileSize) {
        std::int64_t available = 0;
        const char* p = windowAt(at, available);
        const void* hit = std::memchr(p, c, static_cast<std::size_t>(available));
        if (hit != nullptr) {
            return at + (static_cast<const char*>(hit) - p);
        }
        at += available;
    }
    return -1;
}

bool CReportCore::textAtNoCase(std::int64_t offset, const char* keyword) {
    const std::int64_t n = static_cast<std::int64_t>(std::strlen(keyword));
    if (offset < 0 || offset + n > m_fileSize) {
        return false;
    }
    std::int64_t available = 0;
    const char* p = windowAt(offset, available);
    return EqualNoCaseN(p, static_cast<int>(n), keyword, static_cast<int>(n));
}

std::string CReportCore::readRange(std::int64_t offset, std::int64_t length) {
    std::string text;
    try {
        text.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        SetSystemErrorText("InitGA3", ENOMEM);
        raise(-1);
    }
    std::int64_t got = m_file.readAt(offset, text.data(), length);
    if (got < 0) {
        SetSystemErrorText("RTBRd2", m_file.errorNumber());
        raise(-1);
    }
    if (got < length) {
        raiseFileCut();
    }
    return text;
}

std::int32_t CReportCore::CopyToStringBuffer(std::int64_t offset, char endChar,
                                             std::int64_t& length) {
    if (!m_file.isOpen()) {
        raise(1001);
    }
    if (offset < 0 || offset >= m_fileSize) {
        raise(1005);
    }
    const bool measured = length <= 0;
    if (measured) {
        // Measure up to and including the first endChar, or to the end of the file.
        length = m_fileSize - offset;
        std::int64_t at = offset;
        while (at < m_fileSize) {
            std::int64_t available = 0;
            const char* p = windowAt(at, available);
            const void* hit = std::memchr(p, endChar, static_cast<std::size_t>(available));
            if (hit != nullptr) {
                length = at + (static_cast<const char*>(hit) - p) + 1 - offset;
                break;
            }
            at += available;
        }
    }
    length = std::min(length, m_fileSize - offset);
    const std::int64_t needed = length + 1;
    if (static_cast<std::int64_t>(m_tagBuffer.size()) < needed) {
        const std::int64_t grown = (needed / kTagBufferStep + 1) * kTagBufferStep;
        try {
            m_tagBuffer.resize(static_cast<std::size_t>(grown), '\0');
        } catch (const std::bad_alloc&) {
            SetSystemErrorText("CTSBGL2", ENOMEM);
            raise(-1);
        }
    }
    // A measured run (a tag, as a rule) was just scanned in the window: take it from there.
    if (measured && offset >= m_windowStart && offset + length <= m_windowStart + m_windowValid) {
        std::memcpy(m_tagBuffer.data(), m_window.data() + (offset - m_windowStart),
                    static_cast<std::size_t>(length));
    } else {
        std::int64_t got = m_file.readAt(offset, m_tagBuffer.data(), length);
        if (got < 0) {
            SetSystemErrorText("CTSBOp2", m_file.errorNumber());
            raise(-1);
        }
        if (got < length) {
            raiseFileCut();
        }
    }
    m_tagBuffer[static_cast<std::size_t>(length)] = '\0';
    m_tagUsed = length;
    m_tagOffset = offset;
    return 0;
}

}  // namespace paginor
