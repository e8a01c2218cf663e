// Test plans of velkctl run without a line: reading and refusing plans,
// checking answers against expectations, and the JUnit report.

#include "AliasBomb.h"
#include "Plan.h"
#include "RunCommand.h"

#include <QFile>
#include <QXmlStreamReader>
#include <QtTest>

// Leaves a YAML case where velkctl reads JSON only (QSkip without QSKIP's
// optional arguments, which clang's -Wpedantic flags).
#define SKIP_IF_NO_YAML(yaml)                                                                      \
    if ((yaml) && !planYamlSupported()) {                                                          \
        QTest::qSkip("built without LibYAML", __FILE__, __LINE__);                                 \
        return;                                                                                    \
    }

namespace {

ExchangeResult answerOf(unsigned char code, std::initializer_list<unsigned char> data,
                        std::initializer_list<unsigned char> extended = {}, int errorCode = 0) {
    ExchangeResult a;
    a.error = exchangeErrorOf(errorCode);
    a.answer = Velk21DataBlockKernel(Velk21ParameterId(code, 1), 5, 0, 0, 0, 1, 0,
                                     extended.size() != 0, 0);
    int i = 0;
    for (unsigned char b : data) {
        a.answer.data[i++] = b;
    }
    for (unsigned char b : extended) {
        a.extendedData.append(b);
    }
    a.responseMs = 4.5;
    return a;
}

PlanStep stepWith(const std::string& expectJson) {
    Plan plan;
    std::string error;
    const std::string text =
        R"({"steps": [{"request": {"address": "5"}, "capture": {"v": "data_0"}},
                                          {"request": {"address": "5"}, "expect": )" +
        expectJson + "}]}";
    if (!parsePlan(text, "t.json", false, plan, error)) {
        qWarning() << error.c_str();
        return PlanStep();
    }
    return plan.steps[1];
}

} // namespace

class TestPlan : public QObject {
    Q_OBJECT

private slots:
    void invalidPlans_data();
    void invalidPlans();
    void examplePlan();
    void yamlPlan();
    void refusedText_data();
    void refusedText();
    void numbersKeepTheirDecimals_data();
    void numbersKeepTheirDecimals();
    void yamlAliases();
    void variables_data();
    void variables();
    void expectations_data();
    void expectations();
    void capturedFields();
    void junitReport();
};

void TestPlan::invalidPlans_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");

    QTest::newRow("syntax") << "{\n\"steps\": [\n{\"request\": {\"address\": \"5\"}\n]\n}" << 4
                            << "syntax error";
    QTest::newRow("not an object") << "[1, 2]" << 1 << "the plan must be an object";
    QTest::newRow("no steps") << "{\"port\": \"COM1\"}" << 1 << "needs steps";
    QTest::newRow("empty steps") << "{\n\"steps\": []}" << 2 << "needs steps";
    QTest::newRow("unknown plan field") << "{\"steps\": [{\"request\": {\"address\": \"5\"}}],\n"
                                           "\"sped\": 1}"
                                        << 2 << "unknown field 'sped' in the plan";
    QTest::newRow("unknown step field")
        << "{\"steps\": [\n{\"request\": {\"address\": \"5\"},\n \"repeats\": 2}]}" << 3
        << "unknown field 'repeats' in a step";
    QTest::newRow("unknown request field")
        << "{\"steps\": [{\"request\": {\n\"address\": \"5\",\n\"cmd\": \"1\"}}]}" << 3
        << "unknown field 'cmd' in request";
    QTest::newRow("no request") << "{\"steps\": [\n{\"name\": \"x\"}]}" << 2 << "has no request";
    QTest::newRow("no address") << "{\"steps\": [\n{\"request\": {\"code\": \"1\"}}]}" << 2
                                << "request: missing address";
    QTest::newRow("code out of range")
        << "{\"steps\": [\n{\"request\": {\"address\": \"5\", \"code\": \"100\"}}]}" << 2
        << "request: invalid code '100'";
    QTest::newRow("address level out of range")
        << "{\"steps\": [\n{\"request\": {\"address\": \"5,80\"}}]}" << 2
        << "request: invalid address";
    QTest::newRow("hex field as a number")
        << "{\"steps\": [{\"request\": {\"address\": \"5\",\n\"code\": 16}}]}" << 2
        << "request code must be a string";
    QTest::newRow("value too large")
        << "{\"steps\": [{\"request\": {\"address\": \"5\", \"value\": \"3000000000\", "
           "\"type\": \"INTEGER\"}}]}"
        << 1 << "request: invalid value '3000000000'";
    QTest::newRow("flag not a flag")
        << "{\"steps\": [{\"request\": {\"address\": \"5\",\n\"wts\": \"yes\"}}]}" << 2
        << "request wts must be true or false";
    QTest::newRow("repeat 0")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"},\n\"repeat\": 0}]}" << 2
        << "repeat must be a whole number from 1";
    QTest::newRow("error code 9")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"}, \"expect\": {\n\"error\": 9}}]}" << 2
        << "expect error must be a whole number from 0 to 8";
    QTest::newRow("expected ao out of range")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"}, \"expect\": {\n\"ao\": \"80\"}}]}" << 2
        << "expect ao '80'";
    QTest::newRow("expected data not four bytes")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"}, \"expect\": {\n\"data\": \"1,2\"}}]}"
        << 2 << "four hexadecimal bytes";
    QTest::newRow("value without type")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"}, \"expect\": {\n\"value\": "
           "{\"equals\": 1}}}]}"
        << 2 << "needs type and equals";
    QTest::newRow("value of unknown type")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"}, \"expect\": {\"value\": {\n\"type\": "
           "\"REAL64\", \"equals\": 1}}}]}"
        << 2 << "unknown type 'REAL64'";
    QTest::newRow("negative tolerance")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"}, \"expect\": {\"value\": {\"type\": "
           "\"REAL32\", \"equals\": 1,\n\"tolerance\": -1}}}]}"
        << 2 << "tolerance must be a number, 0 or more";
    QTest::newRow("capture of no field")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"},\n\"capture\": {\"x\": \"dat\"}}]}" << 2
        << "unknown answer field 'dat'";
    QTest::newRow("bad variable name")
        << "{\"steps\": [{\"request\": {\"address\": \"5\"},\n\"capture\": {\"1x\": \"data\"}}]}"
        << 2 << "variable name '1x'";
    QTest::newRow("variable used before its capture")
        << "{\"steps\": [{\"request\": {\"address\": \"5\",\n\"data\": \"${d}\"}, \"capture\": "
           "{\"d\": \"data\"}}]}"
        << 2 << "variable 'd' is not captured by an earlier step";
    // Each level of a document costs its path; a plan has no use for depth.
    QTest::newRow("nested too deeply")
        << "{\"comment\": " + QString(100000, '[') + QString(100000, ']') + ", \"steps\": []}" << 1
        << "nested too deeply";
    QTest::newRow("field twice") << "{\"steps\": [{\"request\": {\"address\": \"5\",\n\"address\": "
                                    "\"6\"}}]}"
                                 << 2 << "field 'address' given twice";
}

void TestPlan::invalidPlans() {
    QFETCH(QString, text);
    QFETCH(int, line);
    QFETCH(QString, reason);
    Plan plan;
    plan.port = "untouched";
    std::string error;
    QVERIFY(!parsePlan(text.toStdString(), "plan.json", false, plan, error));
    const QString message = QString::fromStdString(error);
    QVERIFY2(message.startsWith("plan.json:" + QString::number(line) + ": "), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QVERIFY(!message.contains('\n'));
    QVERIFY2(!message.contains("json.exception"), qPrintable(message));
    QCOMPARE(plan.port, std::string("untouched"));
}

void TestPlan::examplePlan() {
    Plan plan;
    std::string error;
    QVERIFY2(loadPlan(VELK_SOURCE_DIR "/examples/registers-plan.json", plan, error), error.c_str());
    QCOMPARE(plan.port, std::string("COM9"));
    QCOMPARE(plan.steps.size(), std::size_t(7));
    const PlanStep& first = plan.steps[0];
    QCOMPARE(first.line, 10); // where the step opens
    const auto wts = std::find_if(first.request.begin(), first.request.end(),
                                  [](const PlanRequestOption& o) { return o.name == "wts"; });
    QVERIFY(wts != first.request.end());
    QCOMPARE(wts->value, std::string());
    QCOMPARE(wts->line, 13); // the option's own line
    QCOMPARE(plan.steps[1].captures.size(), std::size_t(1));
    QCOMPARE(plan.steps[1].captures[0].second, std::string("data"));
    QCOMPARE(plan.steps[6].repeat, 20u);
    QCOMPARE(plan.steps[6].delayMs, 10u);
}

void TestPlan::yamlPlan() {
    SKIP_IF_NO_YAML(true);
    const std::string text = "port: COM3\n"
                             "steps:\n"
                             "  - name: read\n"
                             "    request: {address: \"5\", code: \"10\", wts: true}\n"
                             "    expect:\n"
                             "      errBit: false\n"
                             "      value: {type: REAL32, equals: 1.5, tolerance: 0.1}\n"
                             "    repeat: 3\n";
    Plan plan;
    std::string error;
    QVERIFY2(parsePlan(text, "p.yaml", true, plan, error), error.c_str());
    QCOMPARE(plan.port, std::string("COM3"));
    QCOMPARE(plan.steps.size(), std::size_t(1));
    QCOMPARE(plan.steps[0].repeat, 3u);
    QCOMPARE(plan.steps[0].expectations.size(), std::size_t(2));
    QCOMPARE(plan.steps[0].expectations[1].tolerance, 0.1);

    // A YAML number where the command line takes hexadecimal text is refused, with its line.
    QVERIFY(!parsePlan("steps:\n  - request:\n      address: \"5\"\n      code: 10\n", "p.yaml",
                       true, plan, error));
    QVERIFY2(QString::fromStdString(error).startsWith("p.yaml:4: request code must be a string"),
             error.c_str());
    const std::string deep = "comment: " + std::string(40, '[') + std::string(40, ']') + "\n";
    QVERIFY(!parsePlan(deep, "p.yaml", true, plan, error));
    QVERIFY2(QString::fromStdString(error).contains("nested too deeply"), error.c_str());
}

void TestPlan::refusedText_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("yaml");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");

    // A refused request option is named on its own line, not the request's.
    QTest::newRow("json: option on its own line")
        << QByteArray("{\"steps\": [{\"request\": {\"address\": \"5\",\n\"index\": \"1\",\n"
                      "\"code\": \"100\"}}]}")
        << false << 3 << "request: invalid code '100'";
    QTest::newRow("yaml: option on its own line")
        << QByteArray("steps:\n  - request:\n      address: \"5\"\n      code: \"100\"\n") << true
        << 4 << "request: invalid code '100'";
    // What the plan says is shown on one line, its control characters escaped.
    QTest::newRow("json: a line break in a field name")
        << QByteArray(
               "{\"steps\": [{\"request\": {\"address\": \"5\",\n\"co\\nde\\u0001\": \"1\"}}]}")
        << false << 2 << "unknown field 'co\\nde\\x01' in request";
    QTest::newRow("yaml: line breaks in a field name")
        << QByteArray("steps: [{request: {address: \"5\", \"co\\nde\\x01\": 1}}]\n") << true << 1
        << "unknown field 'co\\nde\\x01' in request";
    QTest::newRow("json: number out of range")
        << QByteArray("{\"steps\": [{\"request\": {\"address\": \"5\"}}],\n\"timeout\": 1e400}")
        << false << 2 << "number overflow";
    QTest::newRow("json: not UTF-8 in a comment")
        << QByteArray("{\n// caf\xE9\n\"steps\": [{\"request\": {\"address\": \"5\"}}]}") << false
        << 2 << "not UTF-8";
    QTest::newRow("json: overlong UTF-8")
        << QByteArray("{\"comment\": \"\xC0\xAF\"}") << false << 1 << "not UTF-8";
    QTest::newRow("yaml: not UTF-8 in a step name")
        << QByteArray("steps:\n  - name: \"caf\xE9\"\n    request: {address: \"5\"}\n") << true << 2
        << "not UTF-8";
    QTest::newRow("yaml: a surrogate in UTF-8")
        << QByteArray("steps:\n  - name: \"\xED\xA0\x80\"\n    request: {address: \"5\"}\n") << true
        << 2 << "not UTF-8";
    QTest::newRow("yaml: field twice")
        << QByteArray("steps:\n  - request:\n      address: \"5\"\n      address: \"6\"\n") << true
        << 4 << "field 'address' given twice";
    QTest::newRow("yaml: plan field twice")
        << QByteArray("port: COM1\nsteps:\n  - request: {address: \"5\"}\nport: COM2\n") << true
        << 4 << "field 'port' given twice";
    QTest::newRow("yaml: NaN tolerance")
        << QByteArray("steps:\n  - request: {address: \"5\"}\n    expect:\n      value: {type: "
                      "REAL32, equals: 1,\n               tolerance: .nan}\n")
        << true << 5 << "not a finite number";
    QTest::newRow("yaml: infinite time limit")
        << QByteArray("steps:\n  - request: {address: \"5\"}\n    expect: {max_ms: .inf}\n") << true
        << 3 << "not a finite number";
    QTest::newRow("yaml: number out of range")
        << QByteArray("steps:\n  - request: {address: \"5\"}\n    expect: {max_ms: 1e999}\n")
        << true << 3 << "out of range";
    // Aliases past the bound are refused as soon as they come, in the fifth level.
    QTest::newRow("yaml: alias bomb")
        << QByteArray::fromStdString(yamlAliasBomb()) << true << 5 << "aliases";
    QTest::newRow("yaml: alias inside its own anchor")
        << QByteArray("comment: &a [1, *a]\nsteps:\n  - request: {address: \"5\"}\n") << true << 1
        << "alias";
    QTest::newRow("yaml: a field name that is not text")
        << QByteArray("? [a, b]\n: 1\nsteps:\n  - request: {address: \"5\"}\n") << true << 1
        << "field name";
    // At the end of a text without a last line break, the error is on the last line.
    QTest::newRow("yaml: syntax at the end") << QByteArray("port: COM1\nsteps: [1, 2") << true << 2
                                             << "did not find expected ',' or ']'";
    QTest::newRow("yaml: lines end in CR") << QByteArray("port: COM1\rsteps: [1, 2") << true << 2
                                           << "did not find expected ',' or ']'";
    QTest::newRow("yaml: syntax") << QByteArray("port: COM1\nsteps: [1, 2\n") << true << 3
                                  << "did not find expected ',' or ']'";
}

void TestPlan::refusedText() {
    QFETCH(QByteArray, text);
    QFETCH(bool, yaml);
    QFETCH(int, line);
    QFETCH(QString, reason);
    SKIP_IF_NO_YAML(yaml);
    Plan plan;
    std::string error;
    const QString name = yaml ? "plan.yaml" : "plan.json";
    QVERIFY(!parsePlan(text.toStdString(), name.toStdString(), yaml, plan, error));
    const QString message = QString::fromStdString(error);
    QVERIFY2(message.startsWith(name + ":" + QString::number(line) + ": "), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QVERIFY2(!message.contains("json.exception") && !message.contains('\n'), qPrintable(message));
}

void TestPlan::numbersKeepTheirDecimals_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("yaml");
    QTest::addColumn<QString>("value");  // the request's --value
    QTest::addColumn<QString>("equals"); // the expected value, as written

    QTest::newRow("json number") << "{\"steps\": [{\"request\": {\"address\": \"5\", \"value\": "
                                    "12.50, \"type\": \"REAL32FIX\"}, \"expect\": {\"value\": "
                                    "{\"type\": \"REAL32FIX\", \"equals\": 12.50}}}]}"
                                 << false << "12.50"
                                 << "12.50";
    QTest::newRow("json string") << "{\"steps\": [{\"request\": {\"address\": \"5\", \"value\": "
                                    "\"12.50\", \"type\": \"REAL32FIX\"}, \"expect\": {\"value\": "
                                    "{\"type\": \"REAL32FIX\", \"equals\": 1.0e1}}}]}"
                                 << false << "12.50"
                                 << "1.0e1";
    QTest::newRow("json whole number")
        << "{\"steps\": [{\"request\": {\"address\": \"5\", \"value\": -7, \"type\": "
           "\"INTEGER\"}, \"expect\": {\"value\": {\"type\": \"INTEGER\", \"equals\": -7}}}]}"
        << false << "-7"
        << "-7";
    QTest::newRow("yaml number") << "steps:\n  - request: {address: \"5\", value: 12.50, type: "
                                    "REAL32FIX}\n    expect: {value: {type: REAL32FIX, equals: "
                                    "12.500}}\n"
                                 << true << "12.50"
                                 << "12.500";
    QTest::newRow("yaml string") << "steps:\n  - request: {address: \"5\", value: \"12.50\", type: "
                                    "REAL32FIX}\n    expect: {value: {type: REAL32FIX, equals: "
                                    "0.10}}\n"
                                 << true << "12.50"
                                 << "0.10";
}

void TestPlan::numbersKeepTheirDecimals() {
    QFETCH(QString, text);
    QFETCH(bool, yaml);
    QFETCH(QString, value);
    QFETCH(QString, equals);
    SKIP_IF_NO_YAML(yaml);
    Plan plan;
    std::string error;
    QVERIFY2(parsePlan(text.toStdString(), "p", yaml, plan, error), error.c_str());
    QCOMPARE(plan.steps.size(), std::size_t(1));
    const PlanStep& step = plan.steps[0];
    const auto option = std::find_if(step.request.begin(), step.request.end(),
                                     [](const PlanRequestOption& o) { return o.name == "value"; });
    QVERIFY(option != step.request.end());
    QCOMPARE(QString::fromStdString(option->value), value);
    QCOMPARE(step.expectations.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(step.expectations[0].expected), equals);
}

void TestPlan::yamlAliases() {
    SKIP_IF_NO_YAML(true);
    // An anchored request used again: each use reads as a copy, with the
    // lines of the anchored text; the alias itself has its own line.
    const std::string text = "steps:\n"
                             "  - request: &read\n"
                             "      address: \"5\"\n"
                             "      code: \"10\"\n"
                             "    expect: &ok {error: 0}\n"
                             "  - request: *read\n"
                             "    expect: *ok\n"
                             "  - name: *ok\n"
                             "    request: *read\n";
    Plan plan;
    std::string error;
    QVERIFY(!parsePlan(text, "p.yaml", true, plan, error));
    QVERIFY2(QString::fromStdString(error).startsWith("p.yaml:8: name must be a string"),
             error.c_str());
    QVERIFY2(parsePlan(text.substr(0, text.find("  - name")), "p.yaml", true, plan, error),
             error.c_str());
    QCOMPARE(plan.steps.size(), std::size_t(2));
    QCOMPARE(plan.steps[1].request.size(), std::size_t(2));
    QCOMPARE(plan.steps[1].request[1].name, std::string("code"));
    QCOMPARE(plan.steps[1].request[1].value, std::string("10"));
    QCOMPARE(plan.steps[1].request[1].line, 4);
    QCOMPARE(plan.steps[1].expectations.size(), std::size_t(1));
}

void TestPlan::variables_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // "!" + reason when refused

    QTest::newRow("none") << "1,2"
                          << "1,2";
    QTest::newRow("whole") << "${a}"
                           << "7F";
    QTest::newRow("two in one") << "${a},${bytes}"
                                << "7F,1,2";
    QTest::newRow("unknown") << "${c}"
                             << "!variable 'c'";
    QTest::newRow("unclosed") << "${a"
                              << "!unclosed";
}

void TestPlan::variables() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const PlanVariables variables{{"a", "7F"}, {"bytes", "1,2"}};
    std::string out = "untouched";
    std::string error;
    const bool ok = substitutePlanVariables(text.toStdString(), variables, out, error);
    QCOMPARE(ok, !expected.startsWith('!'));
    if (ok) {
        QCOMPARE(QString::fromStdString(out), expected);
    } else {
        QVERIFY2(QString::fromStdString(error).contains(expected.mid(1)), error.c_str());
        QCOMPARE(out, std::string("untouched"));
    }
}

void TestPlan::expectations_data() {
    QTest::addColumn<QString>("expect");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QStringList>("failures"); // the fields that fail

    QTest::newRow("nothing asked, all well") << "{}" << 0 << QStringList{};
    QTest::newRow("nothing asked, no answer") << "{}" << 5 << QStringList{"error"};
    QTest::newRow("the error asked for") << "{\"error\": 5}" << 5 << QStringList{};
    QTest::newRow("an error expected, none came") << "{\"error\": 6}" << 0 << QStringList{"error"};
    QTest::newRow("fields match, any spelling")
        << "{\"code\": \"0x10\", \"data_1\": \"80\", \"ao\": \"05\", \"csBit\": true}" << 0
        << QStringList{};
    QTest::newRow("fields differ") << "{\"code\": \"11\", \"errBit\": 1, \"status\": \"0\"}" << 0
                                   << QStringList{"code", "errBit"};
    QTest::newRow("data and ext") << "{\"data\": \"12, 80, 0, FF\", \"ext\": \"41,42\", "
                                     "\"ext_count\": 2}"
                                  << 0 << QStringList{};
    QTest::newRow("ext differs") << "{\"ext\": \"41\", \"ext_count\": 3}" << 0
                                 << QStringList{"ext", "ext_count"};
    QTest::newRow("fields without an answer")
        << "{\"error\": 5, \"code\": \"10\"}" << 5 << QStringList{"code"};
    QTest::newRow("response time") << "{\"max_ms\": 4}" << 0 << QStringList{"max_ms"};
    QTest::newRow("response time in limit") << "{\"max_ms\": 4.5}" << 0 << QStringList{};
    // data 12 80 0 FF as INTEGER: 0xFF008012 = -16744430.
    QTest::newRow("typed value within tolerance")
        << "{\"value\": {\"type\": \"INTEGER\", \"equals\": -16744431, \"tolerance\": 1}}" << 0
        << QStringList{};
    QTest::newRow("typed value outside tolerance")
        << "{\"value\": {\"type\": \"INTEGER\", \"equals\": -16744432, \"tolerance\": 1}}" << 0
        << QStringList{"value"};
    QTest::newRow("captured variable") << "{\"data_0\": \"${v}\"}" << 0 << QStringList{};
}

void TestPlan::expectations() {
    QFETCH(QString, expect);
    QFETCH(int, errorCode);
    QFETCH(QStringList, failures);
    const PlanStep step = stepWith(expect.toStdString());
    const ExchangeResult answer = answerOf(0x10, {0x12, 0x80, 0x00, 0xFF}, {0x41, 0x42}, errorCode);
    std::vector<StepFailure> got;
    checkStep(step, PlanVariables{{"v", "12"}}, answer, got);
    QStringList fields;
    for (const StepFailure& f : got) {
        fields << QString::fromStdString(f.field);
        QVERIFY(!f.expected.empty());
        QVERIFY(!f.got.empty());
    }
    QCOMPARE(fields, failures);
}

void TestPlan::capturedFields() {
    const ExchangeResult a = answerOf(0x8A, {0x12, 0x80, 0x00, 0xFF}, {0x41, 0xC2});
    QCOMPARE(stepAnswerField(a, "code"), std::string("8A"));
    QCOMPARE(stepAnswerField(a, "data_2"), std::string("0"));
    QCOMPARE(stepAnswerField(a, "csBit"), std::string("1"));
    QCOMPARE(stepAnswerField(a, "efBit"), std::string("1"));
    QCOMPARE(stepAnswerField(a, "data"), std::string("12,80,0,FF"));
    QCOMPARE(stepAnswerField(a, "ext"), std::string("41,C2"));
    QCOMPARE(stepAnswerField(a, "ext_count"), std::string("2"));
    QCOMPARE(stepAnswerField(a, "value:UNSIGNED"), std::string("4278222866"));
}

void TestPlan::junitReport() {
    Plan plan;
    plan.file = "plans/a&b.json";
    StepResult pass;
    pass.number = 1;
    pass.name = "read <value> & \"check\"";
    pass.run = pass.passed = true;
    pass.repeats = 1;
    StepResult fail;
    fail.number = 2;
    fail.name = "write\x01 it";
    fail.run = true;
    fail.failures = {{"value", "12.5 +/- 0.001 (REAL32FIX)", "12.4"}, {"code", "10", "<none>"}};
    StepResult skipped;
    skipped.number = 3;
    skipped.name = "later";
    const std::string xml = ::junitReport(plan, {pass, fail, skipped}, 1.5, "2024-01-01T00:00:00");

    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    QStringList names;
    QString failureMessage;
    QString failureText;
    int skips = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement()) {
            continue;
        }
        if (reader.name() == QLatin1String("testsuite")) {
            QCOMPARE(reader.attributes().value("name").toString(), QString("plans/a&b.json"));
            QCOMPARE(reader.attributes().value("tests").toString(), QString("3"));
            QCOMPARE(reader.attributes().value("failures").toString(), QString("1"));
            QCOMPARE(reader.attributes().value("skipped").toString(), QString("1"));
        } else if (reader.name() == QLatin1String("testcase")) {
            names << reader.attributes().value("name").toString();
        } else if (reader.name() == QLatin1String("failure")) {
            failureMessage = reader.attributes().value("message").toString();
            failureText = reader.readElementText();
        } else if (reader.name() == QLatin1String("skipped")) {
            ++skips;
        }
    }
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    QCOMPARE(names, QStringList({"1 read <value> & \"check\"",
                                 QString::fromUtf8("2 write\uFFFD it"), "3 later"}));
    QCOMPARE(failureMessage, QString("value: expected 12.5 +/- 0.001 (REAL32FIX), got 12.4; code: "
                                     "expected 10, got <none>"));
    QVERIFY2(failureText.contains("expected value: 12.5 +/- 0.001 (REAL32FIX)\ngot value: 12.4\n"),
             qPrintable(failureText));
    QCOMPARE(skips, 1);
}

QTEST_GUILESS_MAIN(TestPlan)
#include "tst_plan.moc"
