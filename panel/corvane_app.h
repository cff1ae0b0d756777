// The application object: sets up the platform services and runs the main window.
#pragma once

#include <memory>

class QApplication;

namespace corvane {

class CQtTimers;
class INotices;

class CCorvaneApp {
public:
    CCorvaneApp(int& argc, char** argv);
    ~CCorvaneApp();
    // Runs the main window until it closes; returns the exit code.
    int Run();

private:
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<CQtTimers> m_timers;
};

}  // namespace corvane
