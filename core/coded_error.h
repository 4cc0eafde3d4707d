#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace paginor {

// A failure as a layer throws it: the layer's error code and the message that goes with it, so
// that whoever logs what() keeps the message. Each layer throws a type of its own.
class CodedError : public std::exception {
public:
    CodedError(std::int32_t code, std::string text) : m_code(code), m_text(std::move(text)) {}
    std::int32_t code() const { return m_code; }
    const std::string& text() const { return m_text; }
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    std::int32_t m_code;
    std::string m_text;
};

}  // namespace paginor
