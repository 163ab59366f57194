#include "TreeTest.h"

#include "QtTestApp.h"
#include "Application.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <filesystem>

namespace treetest {

TApplication& App()
{
    return testqt::App("Kavrel");
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    return testqt::WaitFor(pred, timeoutMs);
}

void Pump(int ms)
{
    testqt::Pump(ms);
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
