#include "convert/write/link_target.h"

#include <algorithm>

#include "convert/read/link_address.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

bool isWebAddress(std::string_view address) {
    return startsWithNoCase(address, "http://") || startsWithNoCase(address, "https://");
}

bool hasScheme(std::string_view address) {
    const auto colon = address.find(':');
    if (colon == std::string_view::npos || colon < 2) {
        // One letter before ':' is a drive, not a scheme.
        return false;
    }
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = address[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) {
            return false;
        }
    }
    return true;
}

// The address as a link of the report's folder.
std::string joined(std::string_view address, std::string_view base) {
    if (base.empty()) {
        return std::string(address);
    }
    const std::string folder =
        std::string(base) + (base.ends_with('/') || address.empty() ? "" : "/");
    if (!hasScheme(base)) {
        if (address.starts_with("//")) {
            return std::string(base);  // another machine's file
        }
        return address.starts_with('/') ? std::string(address) : folder + std::string(address);
    }
    // A web base: "//host/..." keeps the base's scheme, an absolute path the base's host.
    if (address.starts_with("//")) {
        return std::string(base.substr(0, base.find(':') + 1)) + std::string(address);
    }
    if (address.starts_with('/')) {
        const auto host = base.find('/', base.find("//") + 2);
        return std::string(base.substr(0, host)) + std::string(address);
    }
    return folder + std::string(address);
}

}  // namespace

std::string LinkTarget(std::string_view address, std::string_view baseFolder) {
    const bool unsafe =
        hasScheme(address) || std::any_of(address.begin(), address.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        });
    std::string target = isWebAddress(address) ? std::string(address)
                         : unsafe              ? std::string(baseFolder)
                                               : joined(address, baseFolder);
    if (isWebAddress(target)) {
        return EscapeUriBytes(target);
    }
    if (target.starts_with('/') && !target.starts_with("//")) {
        return "file://" + EscapeUriBytes(target);
    }
    return {};
}

}  // namespace paginor
