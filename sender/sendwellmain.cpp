#include "sendwellmain.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace sendwell {

std::string SelectedFileName;
std::string HelpFile;

namespace {

constexpr int kPanel1Height = 185;
constexpr int kPanel2Height = 41;
constexpr int kProgressSteps = 1000;

QAction* Bind(QAction* action, QObject* context, std::function<void()> handler)
{
    QObject::connect(action, &QAction::triggered, context, Guarded(std::move(handler)));
    return action;
}

// The help file next to the program, else in the current folder.
QString FindHelpFile()
{
    const QString name = QString::fromStdString(HelpFile);
    for (const QString& candidate : {QCoreApplication::applicationDirPath() + "/" + name, name})
        if (QFileInfo(candidate).isFile())
            return candidate;
    return {};
}

} // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), TComponent(nullptr)
{
    setWindowTitle("'Msg Server Demo'");
    QFont font;
    // The designed face where it exists, else sans-serif faces of like width.
    font.setFamilies({"MS Sans Serif", "Liberation Sans", "Arial"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    BuildPanels();
    BuildMenu();
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    move(kLeft, kTop);

    QBStrm1 = CreateOwned<TQBStrm>(this);
    QBStrm1->SetLastErrorNo(0);
    QBStrm1->Port = qbmsg::kPort;
    QBStrm1->BeenCanceled = false;
    QBStrm1->FromName = "Quillbrook";
    QBStrm1->OnPacketRecvd = [this](TComponent*) {
        const std::int64_t total = QBStrm1->BytesTotal();
        Progress->setValue(total > 0 ? static_cast<int>(QBStrm1->BytesRecvd() * kProgressSteps / total) : 0);
    };
    NotifyComponentsLoaded();
}

TForm1::~TForm1()
{
    delete QBStrm1;
}

void TForm1::BuildPanels()
{
    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(client);

    Panel1 = new TBevelPanel(client, "Panel1");
    Panel1->setFixedHeight(kPanel1Height);
    Image1 = new TPictureArea(Panel1);
    Image1->setGeometry(4, 4, 337, 177);
    Panel1->SetFillChild(Image1);

    Panel2 = new TBevelPanel(client, "Panel2");
    Panel2->setFixedHeight(kPanel2Height);
    Select = new QPushButton("Select BMP File", Panel2);
    Select->setGeometry(44, 8, 105, 25);
    BitBtn1 = new QPushButton("Send Message", Panel2);
    BitBtn1->setGeometry(203, 8, 129, 25);

    Panel3 = new TBevelPanel(client, "Panel3");
    Label2 = new QLabel("URL to send to:", Panel3);
    Label2->setGeometry(11, 12, 75, 13);
    Label2->adjustSize(); // a label sizes itself to its caption
    Edit1 = new QLineEdit("127.0.0.1", Panel3);
    Edit1->setGeometry(11, 32, 305, 21);
    // Below the address, where the window has room: shown only while a send runs.
    Progress = new QProgressBar(Panel3);
    Progress->setGeometry(11, 88, 305, 14); // clear of the panel's caption
    Progress->setRange(0, kProgressSteps);
    Progress->setTextVisible(false);
    Progress->hide();
    // Where the panel's caption leaves room: a send that waits for ever (the
    // window sets no time-out) can be ended without closing the window.
    CancelHint = new QLabel("Escape cancels the send", Panel3);
    CancelHint->setGeometry(11, 68, 130, 16);
    CancelHint->hide();

    column->addWidget(Panel1);
    column->addWidget(Panel2);
    column->addWidget(Panel3, 1);
    WireButtons();
}

void TForm1::WireButtons()
{
    ClickOnReturn(Select);
    ClickOnReturn(BitBtn1);
    QObject::connect(Select, &QPushButton::clicked, this, Guarded([this] { SelectClick(); }));
    QObject::connect(BitBtn1, &QPushButton::clicked, this, Guarded([this] { BitBtn1Click(); }));
    setTabOrder(BitBtn1, Select);
    setTabOrder(Select, Edit1);
    BitBtn1->setFocus();
}

void TForm1::BuildMenu()
{
    QMenu* file = menuBar()->addMenu("&File");
    TakeAltMnemonics(file);
    File1 = file->menuAction();
    Exit1 = Bind(file->addAction("E&xit"), this, [this] { Exit1Click(); });
    About1 = Bind(menuBar()->addAction("&About"), this, [this] { About1Click(); });
    Help1 = Bind(menuBar()->addAction("&Help"), this, [this] { Help1Click(); });
    Help1->setShortcut(Qt::Key_F1);
    Help1->setShortcutContext(Qt::WindowShortcut);
    addAction(Help1); // F1 anywhere in the window
}

void TForm1::SelectClick()
{
    if (!OpenDialog1.Execute())
        return;
    SelectedFileName = OpenDialog1.FileName.toStdString();
    Image1->LoadFromFile(SelectedFileName);
}

void TForm1::BitBtn1Click()
{
    // A press while a send waits on the network is ignored.
    if (FSending)
        return;
    QBStrm1->Host = CutShort(Edit1->text().toStdString());
    QBStrm1->Port = qbmsg::kPort;
    if (SelectedFileName.empty())
        SelectClick();
    if (SelectedFileName.empty()) {
        ShowMessage("Bitmap not Selected");
        return;
    }
    // Shown anew first, so a file the window cannot show is never sent.
    Image1->LoadFromFile(SelectedFileName);
    Send();
}

void TForm1::Send()
{
    TFileStream file(SelectedFileName, fmOpenRead); // closed on every path
    const std::int64_t size = file.Size();
    FSending = true;
    ShowSending(true);
    try {
        QBStrm1->PostIt(file);
    } catch (const ESockError& e) {
        FSending = false;
        ShowSending(false);
        // Closing the window canceled the send: the user's own doing, which
        // ends quietly.
        if (!FCloseWhenSent)
            throw ESockError(InPlainWords(e.what(), size));
        close();
        return;
    } catch (...) {
        FSending = false;
        ShowSending(false);
        if (FCloseWhenSent)
            close();
        throw;
    }
    FSending = false;
    ShowSending(false);
    if (FCloseWhenSent)
        close();
}

void TForm1::ShowSending(bool sending)
{
    // A busy cursor over the window, which still takes clicks (Cancel by
    // closing it), and the bar in the free space below the address.
    if (sending)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
    Progress->setValue(0);
    Progress->setVisible(sending);
    CancelHint->setVisible(sending);
}

std::string InPlainWords(const std::string& failure, std::int64_t size)
{
    const std::string tooLarge = "Message body too large for the receiver (";
    if (failure.rfind(tooLarge, 0) == 0) {
        const std::string limit = failure.substr(failure.find("at most ") + 8);
        return "This picture is too large for the receiver: it has " + std::to_string(size) +
               " bytes, and the receiver takes at most " + limit.substr(0, limit.size() - 1) + " bytes.";
    }
    if (failure == qbmsg::kNoLargeForm)
        return "The receiver takes only pictures of up to 9999 bytes; this one has " + std::to_string(size) + " bytes.";
    return failure;
}

void TForm1::Exit1Click()
{
    ShowMessage("Please be sure to close down the MSG Client also!");
    close();
}

void TForm1::About1Click()
{
    ShowMessage("Component: QBMSG\r\nVersion: 3.1.2\r\n\r\nComponent Demonstration Program");
}

void TForm1::Help1Click()
{
    const QString path = FindHelpFile();
    if (path.isEmpty()) {
        ShowMessage("Help file " + HelpFile + " not found");
        return;
    }
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    if (!HelpViewer)
        HelpViewer = new TTextViewer(this);
    HelpViewer->ShowText(ProgramTitle() + " Help", QString::fromUtf8(file.readAll()));
}

void TForm1::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Escape || !FSending) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    // The wait under way ends with its own text ("Read Canceled", "Write
    // Canceled"), shown as any failure is.
    QBStrm1->BeenCanceled = true;
    event->accept();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!FSending) {
        event->accept();
        if (HelpViewer)
            HelpViewer->close(); // the program ends: its help goes too
        return;
    }
    QBStrm1->BeenCanceled = true;
    FCloseWhenSent = true;
    event->ignore();
}

} // namespace sendwell
