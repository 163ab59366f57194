#include "Desktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

bool ExecAndWait(const std::string& program)
{
    if (program.empty())
        return false;
    QProcess process;
    process.setProgram(QString::fromStdString(program));
    process.setArguments({});
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start();
    if (!process.waitForStarted(-1))
        return false;
    process.waitForFinished(-1);
    return true;
}

void TQtDesktop::OpenDocument(const std::string& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

bool TQtDesktop::ExecAndWait(const std::string& program)
{
    return ::ExecAndWait(program);
}

bool TQtDesktop::OpenUrl(const std::string& url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}
