#include "app/se_exception.h"

#include <cstring>

#include "platform/fault_translation.h"

namespace paginor {

CSeException::CSeException(std::uint32_t code, std::uintptr_t faultAddress)
    : m_code(code), m_faultAddress(faultAddress) {
    char text[160];
    m_named = FormatSeMessage(text, sizeof text, code, faultAddress);
    m_text = text;
}

bool CSeException::FormatMessage(std::string& text, unsigned* helpContext) const {
    if (helpContext != nullptr) {
        *helpContext = 0;
    }
    text = m_text;
    return m_named;
}

bool CSeException::GetErrorMessage(char* buffer, std::size_t size, unsigned* helpContext) const {
    if (helpContext != nullptr) {
        *helpContext = 0;
    }
    if (buffer == nullptr || size == 0) {
        return false;
    }
    if (m_text.size() >= size) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, m_text.c_str(), m_text.size() + 1);
    return true;
}

MessageAnswer CSeException::ReportError(UiServices& ui, MessageButtons buttons,
                                        MessageIcon icon) const {
    return ui.messageBox(m_text, buttons, icon);
}

}  // namespace paginor
