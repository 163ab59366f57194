#include "MainFrame.h"

#include "Application.h"
#include "BitmapView.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Picture.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QPalette>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <filesystem>

std::string StartDir;

std::string CurrentStartDir()
{
    std::string dir = std::filesystem::current_path().string();
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

TMainFrame::TMainFrame(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Corvinel"));

    auto* open = new QAction(style()->standardIcon(QStyle::SP_DialogOpenButton), QStringLiteral("&Ouvrir"), this);
    open->setToolTip(QStringLiteral("Ouvrir"));
    open->setStatusTip(QStringLiteral("Ouvrir un fichier"));
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, this, Guarded([this] { FileOpen1Execute(); }));

    auto* quit = new QAction(QStringLiteral("&Quitter"), this);
    quit->setStatusTip(QStringLiteral("Quitter l'application"));
    connect(quit, &QAction::triggered, this, Guarded([this] { close(); }));

    QMenu* file = menuBar()->addMenu(QStringLiteral("&Fichier"));
    file->addAction(open);
    file->addSeparator();
    file->addAction(quit);

    QToolBar* tools = addToolBar(QStringLiteral("Outils"));
    tools->setMovable(false);
    tools->addAction(open);

    // The picture sits in the top-left corner of a grey workspace.
    FScroll = new QScrollArea(this);
    FScroll->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FScroll->setBackgroundRole(QPalette::Dark);
    FView = new TBitmapView;
    FScroll->setWidget(FView);
    FView->hide();
    setCentralWidget(FScroll);

    statusBar()->showMessage(QStringLiteral("texte état"));
    FSizePanel = new QLabel(QStringLiteral("0 x 0"));
    FSizePanel->setMinimumWidth(86);
    FSizePanel->setAlignment(Qt::AlignCenter);
    statusBar()->addPermanentWidget(FSizePanel);
}

TMainFrame::~TMainFrame() = default;

void TMainFrame::FileOpen1Execute()
{
    std::string fileName;
    if (Application->FileDialogs().OpenFileName(GraphicFilter(), fileName))
        OpenImage(fileName);
}

void TMainFrame::OpenImage(const std::string& fileName)
{
    std::unique_ptr<TBitmap> bitmap;
    {
        TWaitCursor wait;
        TPicture picture;
        picture.LoadFromFile(fileName);
        if (!picture.Graphic())
            throw EInvalidGraphic("Image vide");
        bitmap = std::make_unique<TBitmap>(picture.Width(), picture.Height(), pf24bit);
        bitmap->Canvas().Draw(0, 0, *picture.Graphic());
    }
    // The view lets go of the old picture before it is freed.
    FView->SetBitmap(nullptr);
    FBitmap = std::move(bitmap);
    FFileName = fileName;
    FView->SetZoom(FitZoom(FBitmap->Width(), FBitmap->Height()));
    FView->SetBitmap(FBitmap.get());
    FView->show();
    FSizePanel->setText(QStringLiteral("%1 x %2").arg(FBitmap->Width()).arg(FBitmap->Height()));
    statusBar()->showMessage(QString::fromStdString(std::filesystem::path(fileName).filename().string()));
}

int TMainFrame::FitZoom(int width, int height) const
{
    const QSize room = FScroll->viewport()->size();
    if (room.width() <= 0 || room.height() <= 0)
        return 0;
    // Height / i <= room height and width / i <= room width, in exact terms.
    long long i = 1;
    while (height > static_cast<long long>(room.height()) * i || width > static_cast<long long>(room.width()) * i)
        ++i;
    return i == 1 ? 0 : static_cast<int>(1 - i);
}
