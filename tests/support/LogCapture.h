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
// Lines for the DB target are recorded apart. One capture at a time per process.
class LogCapture {
public:
    explicit LogCapture(char const *filePrefix = "Test");
    ~LogCapture();
    LogCapture(LogCapture const &) = delete;
    LogCapture &operator=(LogCapture const &) = delete;

    Logger &logger() { return *m_logger; }
    std::vector<CapturedLine> lines() const;
    std::vector<CapturedLine> dbLines() const;
    // The texts alone, in order.
    std::vector<std::string> texts() const;
    std::vector<std::string> dbTexts() const;
    void clear();  // both lists

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
    std::vector<CapturedLine> dbLines() const { return m_capture->dbLines(); }
    std::vector<std::string> dbTexts() const { return m_capture->dbTexts(); }
    void clearLines() { m_capture->clear(); }

private:
    std::unique_ptr<LogCapture> m_capture;
};

// logger.vsyslog with these arguments.
void VSyslog(Logger &logger, LogItemSeverityLevel severity, int channel, char const *format, ...);
