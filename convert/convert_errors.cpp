#include "convert/convert_errors.h"

#include "core/report_core.h"

namespace paginor {

std::string errorTableText(std::int32_t code) {
    const std::string& address = supportAddress();
    const std::string bug =
        "Please download the latest version and try again, If the problem still exists, Please "
        "contract the author at " +
        address + ". Thank you for your support";
    const std::string poolTail =
        " is too small. Please contact " + address + " and report this bug, Thank you!";
    switch (code) {
        case 0:
            return "No error!";
        case 1:
        case 2:
        case 3:
            return "Sorry!The convertion interrupted because of a bug of the current convertion "
                   "engine. " +
                   bug;
        case 5:
            return "Fail to get width of table";
        case 6:
            return "Encounter Wrong Page Code";
        case 7:
            return "Exceed the process capability of Tabulan, please contact " + address +
                   " to adjust some parameter";
        case 8:
            return "Failed to find the expected character '>'. Please contact " + address +
                   " for more information";
        case 9:
            return "Failed to find the expected string '&lt;/table>'";
        case 10:
            return "DIV_INFO_LIST_LENGTH" + poolTail;
        case 11:
            return "LAYOUT_ELEMENT_INFO_LIST_LENGTH" + poolTail;
        case 12:
            return "DEFAUlT_CELLTEXTBUFFER_NUMBER" + poolTail;
        case 13:
            return "Fail to get width of page";
        case 14:
        case 15:
            return "Sorry!The convertion interrupted because of a bug of the current convertion "
                   "engine for HTML. " +
                   bug;
        case 16:
            return "Sorry!The convertion interrupted because of a bug of the current convertion "
                   "engine.. " +
                   bug;
        case 104:
            return "Can not find the expecting character \" ";
        default:
            break;
    }
    if (code > 1000) {
        return {};
    }
    return "Unknow reason, Please contact " + address;
}

}  // namespace paginor
