#include "SubcommandSupport.h"

#include <cctype>
#include <ctime>

std::string longOptionName(const option* longOptions, int id) {
    for (const option* o = longOptions; o->name != nullptr; ++o) {
        if (o->val == id) {
            return std::string("--") + o->name;
        }
    }
    return "?";
}

std::string getoptFailure(int result, const option* longOptions, char* argv[]) {
    if (result == ':') {
        if (optopt >= 256) {
            return "option " + longOptionName(longOptions, optopt) + " requires an argument";
        }
        return std::string("option '-") + char(optopt) + "' requires an argument";
    }
    if (optopt >= 256) {
        return "option " + longOptionName(longOptions, optopt) + " takes no argument";
    }
    if (optopt != 0 && std::isprint(optopt)) {
        return std::string("unknown option '-") + char(optopt) + "'";
    }
    return std::string("unknown or ambiguous option '") + argv[optind - 1] + "'";
}

bool outputModeOf(bool json, bool csv, OutputMode& mode, std::string& error) {
    if (json && csv) {
        error = "--json and --csv exclude each other";
        return false;
    }
    mode = json ? OutputMode::Json : (csv ? OutputMode::Csv : OutputMode::Text);
    return true;
}

unsigned long long monotonicUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (unsigned long long)t.tv_sec * 1000000ULL + (unsigned long long)t.tv_nsec / 1000ULL;
}
