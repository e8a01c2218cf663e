#include "SimLog.h"

#include <cstdio>

namespace {

std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The data block fields, shared by requests and answers.
std::string dataFields(const Velk21DataBlockKernel& d, bool json) {
    const unsigned values[] = {d.id.code, d.id.index, d.ao,      d.ntxt,  d.status,
                               d.wtsBit,  d.csBit,    d.subLBit, d.efBit, d.errBit};
    const char* names[] = {"code", "index", "ao",   "ntxt", "status",
                           "wts",  "cs",    "subL", "ef",   "err"};
    std::string out;
    for (unsigned i = 0; i < 10; ++i) {
        if (json) {
            out += ",\"" + std::string(names[i]) + "\":" + std::to_string(values[i]);
        } else {
            out += " " + std::string(names[i]) + "=" +
                   (i < 5 ? hex2(values[i]) : std::to_string(values[i]));
        }
    }
    const std::vector<unsigned char> data(d.data, d.data + 4);
    out += json ? ",\"data\":" + jsonString(hexBytes(data)) : " data=" + hexBytes(data);
    return out;
}

std::string extendedField(const std::vector<unsigned char>& extended, bool json) {
    if (json) {
        return ",\"extended\":" + jsonString(hexBytes(extended));
    }
    return " ext=" + std::to_string(extended.size()) +
           (extended.empty() ? std::string() : " [" + hexBytes(extended) + "]");
}

} // namespace

std::string hexBytes(const std::vector<unsigned char>& bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            out += ' ';
        }
        out += hex2(bytes[i]);
    }
    return out;
}

std::string formatRequest(const SimRequest& request, bool addressed, bool json) {
    const Velk21Address& a = request.address.address;
    const std::string levels = std::to_string(a.address_1) + "." + std::to_string(a.address_2) +
                               "." + std::to_string(a.address_3) + "." +
                               std::to_string(a.address_4);
    if (json) {
        return "{\"event\":\"request\",\"address\":[" + std::to_string(a.address_1) + "," +
               std::to_string(a.address_2) + "," + std::to_string(a.address_3) + "," +
               std::to_string(a.address_4) +
               "],\"time\":" + std::to_string(request.address.timeBit) +
               dataFields(request.data, true) + extendedField(request.extended, true) +
               ",\"forUs\":" + (addressed ? "true" : "false") +
               ",\"bytes\":" + jsonString(hexBytes(request.wire)) + "}";
    }
    return "REQ addr=" + levels + " time=" + std::to_string(request.address.timeBit) +
           dataFields(request.data, false) + extendedField(request.extended, false) +
           (addressed ? "" : " (not for us)") + " | " + hexBytes(request.wire);
}

std::string formatAnswer(const SimAnswer& answer, bool json) {
    std::vector<unsigned char> sent;
    sent.reserve(answer.plan.size());
    for (const SimAnswer::TimedByte& b : answer.plan) {
        sent.push_back(b.byte);
    }
    if (json) {
        return "{\"event\":\"answer\"" + dataFields(answer.data, true) +
               extendedField(answer.extended, true) + ",\"bytes\":" + jsonString(hexBytes(sent)) +
               "}";
    }
    return "ANS" + dataFields(answer.data, false) + extendedField(answer.extended, false) + " | " +
           hexBytes(sent);
}

std::string formatSkipped(const std::string& reason, const std::vector<unsigned char>& bytes,
                          bool json) {
    if (json) {
        return "{\"event\":\"skipped\",\"reason\":" + jsonString(reason) +
               ",\"bytes\":" + jsonString(hexBytes(bytes)) + "}";
    }
    return "SKIP " + reason + " (" + std::to_string(bytes.size()) + " bytes) | " + hexBytes(bytes);
}
