// Plans as hostile input: files that are not plans, sizes and shapes that
// would exhaust the machine, and a stop while a plan loads. Memory is bounded
// by a limit on the address space of a forked child, which loads the plan.

#include "AliasBomb.h"
#include "Plan.h"
#include "VelkctlChild.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELK_SANITIZED 1
#endif
#endif

namespace {

const std::size_t MiB = 1024 * 1024;

// Address space of this process in bytes, now or at its peak.
std::size_t addressSpace(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(field), field) == 0) {
            return std::stoull(line.substr(std::strlen(field) + 1)) * 1024;
        }
    }
    return 0;
}

// Runs body in a forked child whose address space may grow by budget bytes
// (not limited under a sanitizer).
// Returns body's result, -1 when the child died, -2 when it was still
// running after 30 s (a load that blocks).
int inLimitedChild(std::size_t budget, const std::function<int()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
#ifndef VELK_SANITIZED // a sanitizer reserves address space as it goes
        const rlimit limit{addressSpace("VmSize:") + budget, addressSpace("VmSize:") + budget};
        setrlimit(RLIMIT_AS, &limit);
#else
        (void)budget;
#endif
        const int result = body();
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(result);
    }
    for (int i = 0; i < 3000; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -2;
}

// 0 when loading path fails with reason in the message.
int refusedWith(const std::string& path, const QString& reason) {
    Plan plan;
    std::string error;
    if (loadPlan(path, plan, error)) {
        std::fprintf(stderr, "%s: loaded\n", path.c_str());
        return 1;
    }
    if (!QString::fromStdString(error).contains(reason) || error.find('\n') != std::string::npos) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out);
}

// Repeats piece until the text is about size bytes long.
std::string repeated(const std::string& head, const std::string& piece, const std::string& between,
                     const std::string& tail, std::size_t size) {
    std::string text = head;
    text.reserve(size + 256);
    bool first = true;
    while (text.size() < size) {
        text += (first ? "" : between) + piece;
        first = false;
    }
    return text + tail;
}

} // namespace

class TestPlanInput : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void notAPlanFile_data();
    void notAPlanFile();
    void sizeLimitBeforeReading();
    void memoryIsASmallMultiple_data();
    void memoryIsASmallMultiple();
    void stopWhileLoading_data();
    void stopWhileLoading();
    void signalWhileLoading_data();
    void signalWhileLoading();

private:
    QTemporaryDir dir;
    std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
};

void TestPlanInput::initTestCase() {
    QVERIFY(dir.isValid());
    // Large blocks come from the system and go back to it when freed, so
    // that a child does not start with free space its parent left behind.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
}

void TestPlanInput::notAPlanFile_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");

    QVERIFY(mkfifo(path("fifo.json").c_str(), 0600) == 0);
    QVERIFY(QDir(dir.path()).mkdir("folder.json"));
    QTest::newRow("directory") << dir.filePath("folder.json") << "folder.json: is a directory";
    // Opening a FIFO without a writer blocks; reading /dev/zero never ends.
    QTest::newRow("FIFO") << dir.filePath("fifo.json") << "fifo.json: not a regular file";
    QTest::newRow("device") << "/dev/zero"
                            << "/dev/zero: not a regular file";
    QTest::newRow("missing") << dir.filePath("none.json") << "none.json: cannot read the plan";
}

void TestPlanInput::notAPlanFile() {
    QFETCH(QString, file);
    QFETCH(QString, reason);
    QCOMPARE(inLimitedChild(64 * MiB, [&] { return refusedWith(file.toStdString(), reason); }), 0);
}

void TestPlanInput::sizeLimitBeforeReading() {
    // A sparse file one byte over the limit: refused in far less memory than its size.
    const std::string big = path("big.json");
    {
        std::ofstream out(big, std::ios::binary);
        out.seekp(std::streamoff(maxPlanBytes));
        out.put('}');
    }
    QCOMPARE(inLimitedChild(4 * MiB, [&] { return refusedWith(big, "larger than 16 MiB"); }), 0);
}

void TestPlanInput::memoryIsASmallMultiple_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason"); // "" when the plan loads

    const std::size_t size = 6 * MiB;
    const std::string step = R"({"request": {"address": "5"}})";
    const std::string steps = R"("steps": [)" + step + "]";
    struct Shape {
        const char* name;
        std::string text;
        const char* reason;
    };
    const Shape shapes[] = {
        {"steps.json", repeated(R"({"steps": [)", step, ",", "]}", size), ""},
        {"numbers.json", repeated(R"({"comment": [)", "0", ",", "], " + steps + "}", size), ""},
        {"objects.json", repeated(R"({"comment": [)", "{}", ",", "], " + steps + "}", size), ""},
        {"keys.json",
         [&] {
             std::string text = R"({"comment": {)";
             for (unsigned i = 0; text.size() < size; ++i) {
                 text += (i == 0 ? "\"" : ",\"") + std::to_string(i) + "\":0";
             }
             return text + "}, " + steps + "}";
         }(),
         ""},
        {"string.json", R"({"comment": ")" + std::string(size, 'x') + "\", " + steps + "}", ""},
        {"port.json", repeated(R"({"port": [)", "0", ",", "], " + steps + "}", size),
         "port must be a string"},
        {"deep.json", std::string(size, '[') + std::string(size, ']'), "nested too deeply"},
        {"steps.yaml", repeated("steps:\n", "  - request: {address: \"5\"}\n", "", "", size), ""},
        {"numbers.yaml",
         repeated("comment: [", "0", ",", "]\nsteps: [{request: {address: \"5\"}}]\n", size), ""},
        {"lines.yaml",
         repeated("comment:\n", "  - 0\n", "", "steps: [{request: {address: \"5\"}}]\n", size), ""},
        {"deep.yaml", "comment: " + std::string(size, '['), "nested too deeply"},
        // A flow collection where a key could start: a parser that keeps
        // every token until it knows makes this hundreds of times its size.
        {"item.yaml",
         repeated("comment:\n  - [", "0", ",", "]\nsteps: [{request: {address: \"5\"}}]\n", size),
         ""},
        {"nested.yaml", repeated("[[", "0", ",", "]]", size), "the plan must be an object"},
        {"aliases.yaml", yamlAliasBomb(), "aliases"},
    };
    for (const Shape& s : shapes) {
        if (!planYamlSupported() && QString(s.name).endsWith(".yaml")) {
            continue;
        }
        QVERIFY(writeFile(path(s.name), s.text));
        QTest::newRow(s.name) << dir.filePath(s.name) << s.reason;
    }
}

void TestPlanInput::memoryIsASmallMultiple() {
    QFETCH(QString, file);
    QFETCH(QString, reason);
    const std::size_t size = std::size_t(QFileInfo(file).size());
    // The reader's tree and the Plan it fills, 12 times the file at most
    // (about 11 for a file of nothing but minimal steps), with room for the
    // allocator's own reserves. Under a sanitizer only the outcome counts.
    const std::size_t budget = 12 * size + 16 * MiB;
    const int result = inLimitedChild(budget, [&] {
        const std::size_t before = addressSpace("VmSize:");
        Plan plan;
        std::string error;
        const bool loaded = loadPlan(file.toStdString(), plan, error);
        const double factor = double(addressSpace("VmPeak:") - before) / double(size);
        std::printf("%s: %zu bytes, address space grew by %.1f times that\n",
                    qPrintable(QFileInfo(file).fileName()), size, factor);
        if (reason.isEmpty() ? !loaded
                             : loaded || !QString::fromStdString(error).contains(reason)) {
            std::fprintf(stderr, "%s\n", loaded ? "loaded" : error.c_str());
            return 1;
        }
        return 0;
    });
    QCOMPARE(result, 0);
}

void TestPlanInput::stopWhileLoading_data() {
    QTest::addColumn<QString>("file");

    const std::string step = R"({"request": {"address": "5"}})";
    QVERIFY(writeFile(path("stop.json"), repeated(R"({"steps": [)", step, ",", "]}", 4 * MiB)));
    QTest::newRow("json") << dir.filePath("stop.json");
    if (planYamlSupported()) {
        QVERIFY(writeFile(path("stop.yaml"), repeated("steps:\n", "  - request: {address: \"5\"}\n",
                                                      "", "", 4 * MiB)));
        QTest::newRow("yaml") << dir.filePath("stop.yaml");
    }
}

void TestPlanInput::stopWhileLoading() {
    QFETCH(QString, file);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const std::string text = f.readAll().toStdString();
    // The stop comes once the parser has asked a few times: it must then give up.
    int asked = 0;
    Plan plan;
    std::string error;
    QVERIFY(
        !parsePlan(text, "p", file.endsWith(".yaml"), plan, error, [&] { return ++asked > 3; }));
    QCOMPARE(QString::fromStdString(error), QString("p: stopped while loading"));
    QCOMPARE(asked, 4);
    QVERIFY(plan.steps.empty());

    // Asked often enough while the plan is parsed and checked, to the end.
    asked = 0;
    QVERIFY2(loadPlan(file.toStdString(), plan, error, [&] { return ++asked < 0; }), error.c_str());
    QVERIFY2(asked > 10, qPrintable(QString::number(asked)));
}

void TestPlanInput::signalWhileLoading_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("SIGINT") << SIGINT << 130;
    QTest::newRow("SIGTERM") << SIGTERM << 143;
}

// velkctl run on the largest plan there may be: a signal while it loads ends
// it as a shell reports a signal, before it would complain of no port.
void TestPlanInput::signalWhileLoading() {
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    if (!planYamlSupported()) {
        QTest::qSkip("built without LibYAML", __FILE__, __LINE__);
        return;
    }
    const std::string plan = path("largest.yaml");
    if (!QFile::exists(QString::fromStdString(plan))) {
        QVERIFY(
            writeFile(plan, repeated("steps:\n", "  - request: {address: \"5\", code: \"10\"}\n",
                                     "", "", maxPlanBytes - 64)));
    }
    QProcess p;
    p.start(binary("tools/velkctl/velkctl"), {"run", QString::fromStdString(plan)});
    QVERIFY(p.waitForStarted());
    // Past start-up (the signals are taken from then on), long before the
    // plan is read: loading it takes about a second on an idle machine.
    QTest::qWait(200);
    if (p.state() != QProcess::Running) {
        QTest::qSkip("the plan loaded before the signal came", __FILE__, __LINE__);
        return;
    }
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(30000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), exitCode);
    QVERIFY2(err.endsWith("largest.yaml: stopped while loading\n"), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestPlanInput)
#include "tst_planinput.moc"
