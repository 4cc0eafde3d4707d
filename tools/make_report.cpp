// paginor-make-report: writes a synthetic report for tests and benchmarks.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/report_generator.h"

namespace {

constexpr std::string_view kUsage =
    "usage: paginor-make-report --format html|htmlcss [--marks] (--pages N | --size BYTES)\n"
    "                           [--rows N] [--seed N] [--ruled COLUMNS] OUTPUT\n";

template <typename Number>
std::optional<Number> parseNumber(std::string_view text, Number minimum, Number maximum) {
    Number value{};
    const char* end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value < minimum ||
        value > maximum) {
        return std::nullopt;
    }
    return value;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "paginor-make-report: %s\n%.*s", message.c_str(),
                 static_cast<int>(kUsage.size()), kUsage.data());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using paginor::GeneratedFormat;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    paginor::ReportSpec spec;
    bool haveFormat = false;
    bool havePages = false;
    bool haveSize = false;
    std::string output;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        }
        if (arg == "--marks") {
            spec.pageMarks = true;
            continue;
        }
        if (arg == "--format" || arg == "--pages" || arg == "--size" || arg == "--rows" ||
            arg == "--seed" || arg == "--ruled") {
            if (i + 1 == args.size()) {
                return usageError(std::string(arg) + " needs a value");
            }
            const std::string_view value = args[++i];
            const std::string bad =
                "bad value for " + std::string(arg) + ": \"" + std::string(value) + "\"";
            if (arg == "--format") {
                if (value == "html") {
                    spec.format = GeneratedFormat::Html;
                } else if (value == "htmlcss") {
                    spec.format = GeneratedFormat::HtmlCss;
                } else {
                    return usageError(bad + " (html or htmlcss)");
                }
                haveFormat = true;
            } else if (arg == "--pages") {
                auto pages = parseNumber(value, 1, std::numeric_limits<int>::max());
                if (!pages) {
                    return usageError(bad + " (a page count of at least 1)");
                }
                spec.pages = *pages;
                havePages = true;
            } else if (arg == "--size") {
                auto bytes =
                    parseNumber<std::int64_t>(value, 1, std::numeric_limits<std::int64_t>::max());
                if (!bytes) {
                    return usageError(bad + " (a size in bytes of at least 1)");
                }
                spec.targetBytes = *bytes;
                haveSize = true;
            } else if (arg == "--rows") {
                auto rows = parseNumber(value, 1, paginor::kMaxRowsPerPage);
                if (!rows) {
                    return usageError(bad + " (1 to " + std::to_string(paginor::kMaxRowsPerPage) +
                                      ")");
                }
                spec.rowsPerPage = *rows;
            } else if (arg == "--ruled") {
                auto columns = parseNumber(value, 1, paginor::kMaxRuledColumns);
                if (!columns) {
                    return usageError(bad + " (1 to " + std::to_string(paginor::kMaxRuledColumns) +
                                      " columns)");
                }
                spec.ruledColumns = *columns;
            } else {
                auto seed = parseNumber(value, 0U, std::numeric_limits<unsigned>::max());
                if (!seed) {
                    return usageError(bad + " (an unsigned number)");
                }
                spec.seed = *seed;
            }
            continue;
        }
        if (arg.starts_with("--")) {
            return usageError("unknown option \"" + std::string(arg) + "\"");
        }
        if (!output.empty()) {
            return usageError("more than one output file given");
        }
        output = arg;
    }

    if (!haveFormat) {
        return usageError("--format is required");
    }
    if (havePages == haveSize) {
        return usageError("give exactly one of --pages and --size");
    }
    if (output.empty()) {
        return usageError("no output file given");
    }

    std::vector<paginor::GeneratedPage> pages;
    std::string error;
    if (!paginor::writeReport(output, spec, pages, error)) {
        std::fprintf(stderr, "paginor-make-report: %s\n", error.c_str());
        return 1;
    }
    std::error_code sizeError;
    const std::uintmax_t bytes = std::filesystem::file_size(output, sizeError);
    if (sizeError) {
        std::fprintf(stderr, "paginor-make-report: %s: %s\n", output.c_str(),
                     sizeError.message().c_str());
        return 1;
    }
    std::printf("%s: %zu pages, %ju bytes\n", output.c_str(), pages.size(), bytes);
    return 0;
}
