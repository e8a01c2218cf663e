#include "SimLog.h"

#include "HexBytes.h"
#include "ToolText.h"

namespace {

// The data block fields, shared by requests and answers.
std::string dataFields(const Velk21DataBlockKernel& d, bool json) {
    const unsigned values[] = {d.id.code, d.id.index, d.ao,      d.ntxt,  d.status,
                               d.wtsBit,  d.csBit,    d.subLBit, d.efBit, d.errBit};
    const char* names[] = {"code", "index", "ao",   "ntxt", "status",
                           "wts",  "cs",    "subL", "ef",   "err"};
    std::string out;
    for (unsigned i = 0; i < 10; ++i) {
        // Bytes in hexadecimal (a string in JSON, as velkctl writes them), flags 0 or 1.
        const std::string value =
            i < 5 ? hexByte(static_cast<unsigned char>(values[i])) : std::to_string(values[i]);
        if (json) {
            out += ",\"" + std::string(names[i]) + "\":" + (i < 5 ? jsonString(value) : value);
        } else {
            out += " " + std::string(names[i]) + "=" + value;
        }
    }
    out += json ? ",\"data\":" + jsonString(hexBytes(d.data, 4)) : " data=" + hexBytes(d.data, 4);
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

std::string formatRequest(const SimRequest& request, bool addressed, bool json) {
    const Velk21Address& a = request.address.address;
    const unsigned char levels[] = {a.address_1, a.address_2, a.address_3, a.address_4};
    if (json) {
        std::string address;
        for (unsigned char level : levels) {
            address += (address.empty() ? "" : ",") + jsonString(hexByte(level));
        }
        return "{\"event\":\"request\",\"address\":[" + address +
               "],\"time\":" + std::to_string(request.address.timeBit) +
               dataFields(request.data, true) + extendedField(request.extended, true) +
               ",\"forUs\":" + (addressed ? "true" : "false") +
               ",\"bytes\":" + jsonString(hexBytes(request.wire)) + "}";
    }
    return "REQ addr=" + hexBytes(levels, 4, '.') +
           " time=" + std::to_string(request.address.timeBit) + dataFields(request.data, false) +
           extendedField(request.extended, false) + (addressed ? "" : " (not for us)") + " | " +
           hexBytes(request.wire);
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
