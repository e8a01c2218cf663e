#include "ExchangeOutput.h"

#include "UserValue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <mutex>

std::array<AnswerField, 14> answerFields(const Velk21DataBlockKernel& k) {
    const AnswerField fields[] = {
        {"code", k.id.code, false},   {"index", k.id.index, false}, {"ao", k.ao, false},
        {"ntxt", k.ntxt, false},      {"status", k.status, false},  {"wtsBit", k.wtsBit, true},
        {"csBit", k.csBit, true},     {"subLBit", k.subLBit, true}, {"efBit", k.efBit, true},
        {"errBit", k.errBit, true},   {"data_0", k.data[0], false}, {"data_1", k.data[1], false},
        {"data_2", k.data[2], false}, {"data_3", k.data[3], false},
    };
    std::array<AnswerField, 14> out;
    std::copy(std::begin(fields), std::end(fields), out.begin());
    return out;
}

void appendAnswerField(std::string& text, const AnswerField& f) {
    if (f.flag) {
        text += f.value != 0 ? '1' : '0';
    } else {
        appendHexByte(text, f.value);
    }
}

std::string msText(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms);
    return text;
}

namespace {
// Seconds since 1970 of a broken-down time taken as UTC (days from the civil
// date, proleptic Gregorian calendar).
long long secondsAsUtc(const std::tm& t) {
    const long long year = t.tm_year + 1900LL - (t.tm_mon < 2 ? 1 : 0);
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long month = t.tm_mon + 1;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + t.tm_mday - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + t.tm_hour * 3600LL + t.tm_min * 60LL + t.tm_sec;
}
} // namespace

std::string isoTimestamp(std::chrono::system_clock::time_point time) {
    const auto sinceEpoch = time.time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    if (ms < 0) { // before 1970
        ms += 1000;
        seconds -= 1;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    {
        // std::localtime is the call both platforms have; its result is shared.
        static std::mutex localtimeMutex;
        std::lock_guard<std::mutex> lock(localtimeMutex);
        local = *std::localtime(&t);
    }
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    // The zone offset: the local fields read as if they were UTC, minus the time.
    const long offset = static_cast<long>((secondsAsUtc(local) - static_cast<long long>(t)) / 60);
    const long absolute = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date, int(ms), offset < 0 ? '-' : '+',
                  absolute / 60, absolute % 60);
    return text;
}

std::string errorText(int code) {
    return exchangeErrorText(exchangeErrorOf(code));
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

// Both append into one string: the monitor formats millions of blocks.
void appendDataFieldsText(std::string& text, const Velk21DataBlockKernel& k) {
    const std::array<AnswerField, 14> fields = answerFields(k);
    for (int i = 0; i < 10; ++i) {
        if (i != 0) {
            text += ' ';
        }
        text += fields[i].name;
        text += ' ';
        appendAnswerField(text, fields[i]);
        text += ',';
    }
    text += " data ";
    appendHexBytes(text, k.data, 4);
}

void appendDataFieldsJson(std::string& json, const Velk21DataBlockKernel& k) {
    const std::array<AnswerField, 14> fields = answerFields(k);
    json += '{';
    for (int i = 0; i < 14; ++i) {
        if (i != 0) {
            json += ',';
        }
        json += '"';
        json += fields[i].name;
        json += fields[i].flag ? "\":" : "\":\"";
        appendAnswerField(json, fields[i]);
        if (!fields[i].flag) {
            json += '"';
        }
    }
    json += '}';
}

std::string dataFieldsText(const Velk21DataBlockKernel& k) {
    std::string text;
    text.reserve(160);
    appendDataFieldsText(text, k);
    return text;
}

std::string dataFieldsJson(const Velk21DataBlockKernel& k) {
    std::string json;
    json.reserve(240);
    appendDataFieldsJson(json, k);
    return json;
}

namespace {

std::string typedValue(const ExchangeResult& r, const ExchangeLabel& l) {
    return l.rxType != 0 && r.answerDecoded() ? typedValueText(r.answer.data, l.rxType) : "";
}

} // namespace

std::string formatText(const ExchangeResult& r, const ExchangeLabel& l) {
    std::string text = "#" + std::to_string(l.sequence) + " " + isoTimestamp(r.started) + " " +
                       printableText(l.port) + " " + msText(r.responseMs) +
                       " ms: " + std::to_string(r.code()) + " " + errorText(r.code()) + "\n";
    text += "  Tx address: " + hexBytes(r.txAddressPacket) + "\n";
    text += "  Tx data: " + hexBytes(r.txDataPacket) + "\n";
    if (r.rxDataPacket.size() != 0) {
        text += "  Rx data: " + hexBytes(r.rxDataPacket) + "\n";
    }
    if (r.answerDecoded()) {
        text += "  Answer: " + dataFieldsText(r.answer) + "\n";
        text += "  Extended (" + std::to_string(r.extendedData.size()) + ")";
        text += r.extendedData.size() != 0 ? ": " + hexBytes(r.extendedData) + "\n" : "\n";
        if (l.rxType != 0) {
            text += "  Value " + parameterTypeName(l.rxType) + ": " + typedValue(r, l) + "\n";
        }
    }
    return text;
}

std::string formatJson(const ExchangeResult& r, const ExchangeLabel& l) {
    std::string json =
        "{\"type\":\"exchange\",\"seq\":" + std::to_string(l.sequence) +
        ",\"time\":" + jsonString(isoTimestamp(r.started)) + ",\"port\":" + jsonString(l.port) +
        ",\"response_ms\":" + msText(r.responseMs) + ",\"error_code\":" + std::to_string(r.code()) +
        ",\"error_text\":" + jsonString(errorText(r.code())) +
        ",\"tx_address\":" + jsonString(hexBytes(r.txAddressPacket)) +
        ",\"tx_data\":" + jsonString(hexBytes(r.txDataPacket)) +
        ",\"rx_data\":" + jsonString(hexBytes(r.rxDataPacket)) + ",\"answer\":";
    json += r.answerDecoded() ? dataFieldsJson(r.answer) : "null";
    json += ",\"extended_count\":" + std::to_string(r.extendedData.size()) +
            ",\"extended\":" + jsonString(hexBytes(r.extendedData)) + ",\"value_type\":";
    json += l.rxType != 0 ? jsonString(parameterTypeName(l.rxType)) : "null";
    json += ",\"value\":";
    // The typed value is fixed notation ("-12.500") unless it is not finite ("nan").
    const std::string value = typedValue(r, l);
    json += value.empty()                                            ? "null"
            : std::isdigit(static_cast<unsigned char>(value.back())) ? value
                                                                     : jsonString(value);
    json += std::string(",\"port_reopened\":") + (r.portReopened ? "true" : "false") +
            ",\"port_lost\":" + (r.portLost ? "true" : "false");
    return json + "}";
}

std::string csvHeader() {
    return "seq,time,port,response_ms,error_code,error_text,tx_address,tx_data,rx_data,"
           "code,index,ao,ntxt,status,wtsBit,csBit,subLBit,efBit,errBit,"
           "data_0,data_1,data_2,data_3,extended_count,extended,value_type,value,port_reopened,"
           "port_lost";
}

std::string formatCsv(const ExchangeResult& r, const ExchangeLabel& l) {
    std::string row = std::to_string(l.sequence) + "," + csvField(isoTimestamp(r.started)) + "," +
                      csvField(l.port) + "," + msText(r.responseMs) + "," +
                      std::to_string(r.code()) + "," + csvField(errorText(r.code())) + "," +
                      hexBytes(r.txAddressPacket) + "," + hexBytes(r.txDataPacket) + "," +
                      hexBytes(r.rxDataPacket);
    for (const AnswerField& f : answerFields(r.answer)) {
        row += ',';
        if (r.answerDecoded()) {
            appendAnswerField(row, f);
        }
    }
    row += "," + std::to_string(r.extendedData.size()) + "," + hexBytes(r.extendedData) + ",";
    row += l.rxType != 0 ? parameterTypeName(l.rxType) : "";
    row += "," + csvField(typedValue(r, l));
    row += r.portReopened ? ",1" : ",0";
    row += r.portLost ? ",1" : ",0";
    return row;
}

std::string formatSummaryText(const ExchangeStatistics& s) {
    std::string text = "Summary: " + std::to_string(s.requests()) + " requests, " +
                       std::to_string(s.answersOk()) + " answers OK, " +
                       std::to_string(s.errors()) + " errors\n";
    for (const auto& [code, n] : s.errorsByCode()) {
        text += "  code " + std::to_string(code) + ": " + std::to_string(n) + " (" +
                errorText(code) + ")\n";
    }
    if (s.hasTimes()) {
        text += "  response ms: min " + msText(s.minMs()) + " / median " + msText(s.medianMs()) +
                " / p99 " + msText(s.p99Ms()) + " / max " + msText(s.maxMs()) + "\n";
    } else {
        text += "  response ms: no answer OK\n";
    }
    if (s.portLosses() != 0 || s.portReopenings() != 0) {
        text += "  port: lost " + std::to_string(s.portLosses()) + " times, opened again " +
                std::to_string(s.portReopenings()) + " times\n";
    }
    return text;
}

std::string formatSummaryJson(const ExchangeStatistics& s, const std::string& port) {
    std::string json = "{\"type\":\"summary\",\"port\":" + jsonString(port) +
                       ",\"requests\":" + std::to_string(s.requests()) +
                       ",\"answers_ok\":" + std::to_string(s.answersOk()) +
                       ",\"errors\":" + std::to_string(s.errors()) + ",\"errors_by_code\":{";
    for (const auto& [code, n] : s.errorsByCode()) {
        json += std::string(json.back() == '{' ? "\"" : ",\"") + std::to_string(code) +
                "\":" + std::to_string(n);
    }
    json += "},\"response_ms\":";
    if (s.hasTimes()) {
        json += "{\"min\":" + msText(s.minMs()) + ",\"median\":" + msText(s.medianMs()) +
                ",\"p99\":" + msText(s.p99Ms()) + ",\"max\":" + msText(s.maxMs()) + "}";
    } else {
        json += "null";
    }
    json += ",\"port_losses\":" + std::to_string(s.portLosses()) +
            ",\"port_reopenings\":" + std::to_string(s.portReopenings());
    return json + "}";
}
