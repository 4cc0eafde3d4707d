#include "platform/code_page_names.h"

#include <algorithm>
#include <iterator>

namespace paginor {

namespace {

struct CodePageName {
    int codePage;
    const char* name;
};

// Sorted by code page.
constexpr CodePageName kNames[] = {
    {37, "IBM037"},
    {437, "IBM437"},
    {708, "ISO-8859-6"},
    {720, "CP720"},
    {737, "CP737"},
    {775, "CP775"},
    {850, "CP850"},
    {852, "CP852"},
    {855, "CP855"},
    {857, "CP857"},
    {860, "CP860"},
    {861, "CP861"},
    {862, "CP862"},
    {863, "CP863"},
    {864, "CP864"},
    {865, "CP865"},
    {866, "CP866"},
    {869, "CP869"},
    {874, "windows-874"},
    {875, "CP875"},
    {932, "Shift_JIS"},
    {936, "GBK"},
    {949, "EUC-KR"},
    {950, "Big5"},
    {1026, "IBM1026"},
    {1140, "IBM01140"},
    {1141, "IBM01141"},
    {1142, "IBM01142"},
    {1143, "IBM01143"},
    {1144, "IBM01144"},
    {1145, "IBM01145"},
    {1146, "IBM01146"},
    {1147, "IBM01147"},
    {1148, "IBM01148"},
    {1149, "IBM01149"},
    {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},
    {1250, "windows-1250"},
    {1251, "windows-1251"},
    {1252, "windows-1252"},
    {1253, "windows-1253"},
    {1254, "windows-1254"},
    {1255, "windows-1255"},
    {1256, "windows-1256"},
    {1257, "windows-1257"},
    {1258, "windows-1258"},
    {1361, "JOHAB"},
    {10000, "MACINTOSH"},
    {10004, "MACARABIC"},
    {10005, "MACHEBREW"},
    {10006, "MACGREEK"},
    {10007, "MACCYRILLIC"},
    {10029, "MACCENTRALEUROPE"},
    {10079, "MACICELAND"},
    {10081, "MACTURKISH"},
    {20127, "US-ASCII"},
    {20866, "KOI8-R"},
    {21866, "KOI8-U"},
    {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},
    {28605, "ISO-8859-15"},
    {38598, "ISO-8859-8-I"},
    {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"},
    {50222, "ISO-2022-JP"},
    {50225, "ISO-2022-KR"},
    {51932, "EUC-JP"},
    {51936, "GB2312"},
    {51949, "EUC-KR"},
    {52936, "HZ-GB-2312"},
    {65000, "UTF-7"},
    {65001, "UTF-8"},
};

}  // namespace

std::string charsetNameOfCodePage(int codePage) {
    const auto* found =
        std::lower_bound(std::begin(kNames), std::end(kNames), codePage,
                         [](const CodePageName& entry, int cp) { return entry.codePage < cp; });
    if (found == std::end(kNames) || found->codePage != codePage) {
        return {};
    }
    return found->name;
}

}  // namespace paginor
