// Test support for the programs: modal boxes recorded instead of shown,
// pictures made on the fly, and a temporary current folder.
#pragma once

#include <ferrolink/forms.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <string>
#include <vector>

using namespace ferro;

struct RecordedBoxes : TModalBoxes {
    struct Box {
        std::string Kind, Title, Text;
    };
    void ShowMessage(const QString& title, const QString& text) override { Boxes.push_back({"message", title.toStdString(), text.toStdString()}); }
    void ShowError(const QString& title, const QString& text) override { Boxes.push_back({"error", title.toStdString(), text.toStdString()}); }
    // The file dialog answers with `Choice`, or cancels when it is empty.
    bool ChooseFile(QString& fileName, const QString& label, const QString& pattern) override
    {
        Boxes.push_back({"open", label.toStdString(), pattern.toStdString()});
        Offered.push_back(fileName);
        if (Choice.isEmpty())
            return false;
        fileName = Choice;
        return true;
    }
    std::vector<Box> Boxes;
    QString Choice;
    std::vector<QString> Offered;
};

// A BMP file's bytes: a picture of `size` in one colour, with a differently
// coloured pixel in its top-left corner.
inline std::string BmpBytes(QSize size, QColor colour, QImage::Format format = QImage::Format_RGB888)
{
    QImage image(size, QImage::Format_RGB888);
    image.fill(colour);
    image.setPixelColor(0, 0, Qt::black);
    image = image.convertToFormat(format);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes.toStdString();
}

// Makes a fresh temporary folder the current folder for the test's lifetime.
struct InTemporaryFolder {
    InTemporaryFolder() : Previous(QDir::currentPath()) { QDir::setCurrent(Dir.path()); }
    ~InTemporaryFolder() { QDir::setCurrent(Previous); }
    QString Path(const QString& name) const { return Dir.filePath(name); }
    QTemporaryDir Dir;
    QString Previous;
};
