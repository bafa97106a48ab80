// A desktop window that posts a file as one stream message, with a progress
// bar and a Cancel button: what most programs built on Ferrolink start as.
//
//   post_window HOST PORT FILE [--send-now]
//
// The post runs inside the Send button's handler, and its waits pump the
// event loop: the window repaints, the progress bar moves and Cancel is
// heard while the post waits for the network. Send is disabled meanwhile so
// that a second post cannot start inside the first. Closing the window
// cancels a post under way. With --send-now the window sends once at start
// and closes itself when the post ends (the exit status tells the outcome):
// how the example is tested without a user.
#include <ferrolink/qbmsg.h>

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <string>

class PostWindow : public QWidget {
public:
    PostWindow(std::string host, int port, std::string file) : FFile(std::move(file)), FSender(nullptr)
    {
        FSender.Host = std::move(host);
        FSender.Port = port;
        FSender.FromName = "post_window";
        FSender.TimeOut = 10000; // no single wait lasts longer than 10 s
        // Fired as chunks leave (for a large file at most every 50 ms): the
        // bar follows the bytes, in thousandths, as a file may pass 2 GiB.
        FProgress->setRange(0, 1000);
        FSender.OnPacketRecvd = [this](ferro::TComponent*) {
            const std::int64_t total = FSender.BytesTotal();
            FProgress->setValue(total > 0 ? static_cast<int>(FSender.BytesRecvd() * 1000 / total) : 1000);
        };

        setWindowTitle("Post a file");
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(FSend);
        buttons->addWidget(FCancel);
        auto* column = new QVBoxLayout(this);
        column->addWidget(new QLabel(QString::fromStdString("File: " + FFile)));
        column->addWidget(FProgress);
        column->addWidget(FResult);
        column->addLayout(buttons);
        FCancel->setEnabled(false);
        connect(FSend, &QPushButton::clicked, this, [this] { Send(); });
        // Heard during the post: the wait under way ends as "... Canceled".
        connect(FCancel, &QPushButton::clicked, this, [this] { FSender.BeenCanceled = true; });
    }

    bool Succeeded() const { return FSucceeded; }

    void Send()
    {
        FSend->setEnabled(false);
        FCancel->setEnabled(true);
        FProgress->setValue(0);
        FResult->setText("Sending...");
        try {
            ferro::TFileStream file(FFile, ferro::fmOpenRead);
            const std::string reply = FSender.PostIt(file); // returns when the post has ended
            FSucceeded = reply == ferro::qbmsg::kReply;
            FResult->setText(FSucceeded ? "Stored by the receiver" : "The receiver did not answer OK");
        } catch (const ferro::Exception& e) {
            // A Qt handler must not let an exception out: the failure's
            // fixed text is for the user ("Connection Failed", "Write Canceled").
            FSucceeded = false;
            FResult->setText(QString::fromStdString(e.Message()));
        }
        FCancel->setEnabled(false);
        FSend->setEnabled(true);
        std::printf("%s\n", FResult->text().toUtf8().constData());
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        // A post under way ends at once as canceled; the window may close.
        FSender.BeenCanceled = true;
        event->accept();
    }

private:
    std::string FFile;
    ferro::TQBStrm FSender;
    QPushButton* FSend = new QPushButton("Send");
    QPushButton* FCancel = new QPushButton("Cancel");
    QProgressBar* FProgress = new QProgressBar;
    QLabel* FResult = new QLabel;
    bool FSucceeded = false;
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const bool sendNow = argc == 5 && std::string(argv[4]) == "--send-now";
    bool portOk = false;
    const int port = argc >= 4 ? QString(argv[2]).toInt(&portOk) : 0;
    if ((argc != 4 && !sendNow) || !portOk || port < 1 || port > 65535) {
        std::fprintf(stderr, "usage: post_window HOST PORT FILE [--send-now]\n");
        return 2;
    }
    PostWindow window(argv[1], port, argv[3]);
    window.show();
    if (sendNow) {
        QTimer::singleShot(0, &window, [&] {
            window.Send();
            window.close();
        });
    }
    const int status = app.exec();
    return sendNow ? (window.Succeeded() ? 0 : 1) : status;
}
