#pragma once

#include "repair/repairPermissions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// Records every call a runner makes, in order; the hooks act from inside a call.
struct Recorder : repair::RepairProgressDelegate {
    struct Call {
        repair::repairPermissions* runner;
        bool isEnd;
        QString chunk;
    };
    std::vector<Call> calls;
    repair::RepairOutcome outcome;
    int ends = 0;
    bool runningInEndCall = false;
    std::function<void(repair::repairPermissions*)> onChunk, onEnd;

    void repairPermissionsProgress(repair::repairPermissions* runner, const QString& chunk) override {
        calls.push_back({runner, false, chunk});
        if (onChunk)
            onChunk(runner);
    }
    void repairPermissionsFinished(repair::repairPermissions* runner,
                                   const repair::RepairOutcome& o) override {
        calls.push_back({runner, true, {}});
        outcome = o;
        runningInEndCall = runningInEndCall || runner->isRunning();
        ++ends;
        if (onEnd)
            onEnd(runner);
    }
    QString joined() const {
        QString text;
        for (const Call& c : calls)
            text += c.chunk;
        return text;
    }
    // Waits for the end call, then a little longer to see that nothing follows it. A finished run
    // is its non-empty chunks, one empty text, the end call, all from the runner.
    void waitForEnd(const repair::repairPermissions* runner, int timeoutMs = 5000) {
        ASSERT_TRUE(QTest::qWaitFor([this] { return ends > 0; }, timeoutMs));
        QTest::qWait(50);
        ASSERT_EQ(ends, 1);
        ASSERT_GE(calls.size(), 2u);
        EXPECT_TRUE(calls.back().isEnd);
        EXPECT_TRUE(calls[calls.size() - 2].chunk.isEmpty());
        EXPECT_FALSE(runningInEndCall);
        for (size_t i = 0; i < calls.size(); ++i)
            EXPECT_TRUE(calls[i].runner == runner && (i + 2 >= calls.size() || !calls[i].chunk.isEmpty()));
    }
};

// Writes tool scripts to a scratch folder and starts them on fresh runners.
class RunnerTest : public testing::Test {
protected:
    QString script(const QByteArray& body, const QString& name = QStringLiteral("tool"),
                   const QByteArray& firstLine = "#!/bin/sh\n") {
        QFile file(m_dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(firstLine + body + "\n");
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return file.fileName();
    }
    // A script line that waits until the test calls release().
    QByteArray waitForRelease() const {
        return "while [ ! -e '" + m_dir.filePath(QStringLiteral("go")).toUtf8() + "' ]; do sleep 0.02; done";
    }
    void release() { QFile(m_dir.filePath(QStringLiteral("go"))).open(QIODevice::WriteOnly); }
    std::unique_ptr<repair::repairPermissions> run(Recorder& rec, const QString& tool,
                                                   const QString& volume = QStringLiteral("/")) {
        auto runner = std::make_unique<repair::repairPermissions>(&rec, tool);
        EXPECT_TRUE(runner->beginRepair(volume)) << runner->startError().toStdString();
        return runner;
    }

    static qsizetype openDescriptors() { return QDir(QStringLiteral("/proc/self/fd")).count(); }

    // Under the build folder: the temporary folder may be mounted noexec.
    QTemporaryDir m_dir{QStringLiteral(VARNEL_SCRATCH_DIR "/runner-XXXXXX")};
};
