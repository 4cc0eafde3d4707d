#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "app/ui_services.h"

namespace paginor {

// A processor fault (access violation, division by zero, ...) as an exception object whose
// message names the fault, its code and the address where it happened. The fault handlers of
// InstallFaultTranslator write the same text when a thread faults.
class CSeException : public std::exception {
public:
    CSeException(std::uint32_t code, std::uintptr_t faultAddress);

    std::uint32_t code() const { return m_code; }
    std::uintptr_t faultAddress() const { return m_faultAddress; }
    const char* what() const noexcept override { return m_text.c_str(); }

    // The readable text; false for a code outside the table. The help context is 0.
    bool FormatMessage(std::string& text, unsigned* helpContext = nullptr) const;
    // The text copied into buffer; when it does not fit (with its NUL) the buffer gets an empty
    // string and the result is false. A buffer of size 0 is left untouched.
    bool GetErrorMessage(char* buffer, std::size_t size, unsigned* helpContext = nullptr) const;
    // Shows the text in a message box.
    MessageAnswer ReportError(UiServices& ui, MessageButtons buttons = MessageButtons::Ok,
                              MessageIcon icon = MessageIcon::Stop) const;

private:
    std::uint32_t m_code;
    std::uintptr_t m_faultAddress;
    std::string m_text;
    bool m_named;
};

}  // namespace paginor
