#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <SharedLib/log/Logger.h>

// One line as the console callback received it.
struct CapturedLine {
    LogItemSeverityLevel severity;
    int channel;
    std::string text;
    int headerLength;
    std::string logFileName;
};

// A Logger installed as theLogger for the lifetime of this object, whose
// console callback records every line. Message boxes are recorded silently.
// One capture at a time per process.
class LogCapture {
public:
    explicit LogCapture(char const *filePrefix = "Test");
    ~LogCapture();
    LogCapture(LogCapture const &) = delete;
    LogCapture &operator=(LogCapture const &) = delete;

    Logger &logger() { return *m_logger; }
    std::vector<CapturedLine> lines() const;
    // The texts alone, in order.
    std::vector<std::string> texts() const;
    void clear();

private:
    std::unique_ptr<Logger> m_logger;
};

// Fixture form: every test starts with a fresh captured logger.
class LogCaptureTest : public ::testing::Test {
protected:
    void SetUp() override { m_capture = std::make_unique<LogCapture>(); }
    void TearDown() override { m_capture.reset(); }

    Logger &logger() { return m_capture->logger(); }
    std::vector<CapturedLine> lines() const { return m_capture->lines(); }
    std::vector<std::string> texts() const { return m_capture->texts(); }
    void clearLines() { m_capture->clear(); }

private:
    std::unique_ptr<LogCapture> m_capture;
};
