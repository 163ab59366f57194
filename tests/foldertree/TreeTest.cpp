#include "TreeTest.h"

#include "Application.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <filesystem>

namespace treetest {

namespace {

TApplication* TheApp = nullptr;

class TAppEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        delete TheApp;
        TheApp = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new TAppEnvironment);

} // namespace

TApplication& App()
{
    if (!TheApp) {
        static int argc = 1;
        static char name[] = "foldertree_tests";
        static char* argv[] = {name, nullptr};
        TheApp = new TApplication(argc, argv);
        TheApp->SetTitle("Kavrel");
    }
    return *TheApp;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void Pump(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

void MakeDirs(const std::string& path)
{
    std::filesystem::create_directories(path);
}

std::vector<std::string> ChildTexts(const QTreeWidgetItem* node)
{
    std::vector<std::string> texts;
    if (!node)
        return texts;
    for (int i = 0; i < node->childCount(); ++i)
        texts.push_back(node->child(i)->text(0).toStdString());
    return texts;
}

} // namespace treetest
