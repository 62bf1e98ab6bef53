// Opening a gray-tone image: a raw file sized by its descriptor (or by the size
// dialog, after which the descriptor is written), or an 8-bit bitmap.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "cursors.h"
#include "filedialogs.h"
#include "imagesize.h"
#include "imagewindow.h"
#include "kavel/imagefile.h"
#include "kavel/memorybudget.h"
#include "kavel/stream.h"
#include "longcommand.h"
#include "mainwindow.h"
#include "memorymessages.h"
#include "qtconvert.h"

namespace {

// How long the status line keeps what an open noticed, before the pixel
// read-out of the image windows has it back.
constexpr int kNoticeMs = 20000;

// What one attempt produced: the two matrices to commit, or why it failed.
struct OpenedImage {
    kavel::ByteMatrix Source;
    kavel::ByteMatrix Result;
    QString Warning;  // shown after the image, which opened anyway
    QString Notice;   // for the status line: the file and its size disagree
    int LinesRead = 0;
};

// Declined: the user said no to a question, and chooses again. Stopped: the
// user cancelled the reading, which ends the open.
enum class Refusal { Reason, TrueColourBitmap, Declined, Stopped };

struct OpenFailure {
    Refusal Kind = Refusal::Reason;
    QString Reason;
};

using OpenAttempt = std::variant<OpenedImage, OpenFailure>;

QString Native(const QString& fileName) {
    return QDir::toNativeSeparators(fileName);
}

OpenFailure Failed(const QString& fileName, const kavel::Error& error) {
    return {Refusal::Reason, QObject::tr("Cannot open %1:\n%2").arg(Native(fileName), ErrorText(error))};
}

// The result matrix is calloc'd and stays untouched until a treatment, so it
// costs address space rather than memory.
OpenAttempt WithResult(kavel::ByteMatrix source, const QString& fileName, QString warning = {},
                       QString notice = {}) {
    kavel::Expected<kavel::ByteMatrix> result = kavel::AllocateByteMatrix(source.Columns(), source.Lines());
    if (!result) {
        return Failed(fileName, result.error());
    }
    return OpenedImage{std::move(source), std::move(result).value(), std::move(warning), std::move(notice),
                       0};
}

// The size the user types when there is no descriptor; it is then written as
// the descriptor so the next open finds it.
kavel::Expected<kavel::ImageSize> TypedImageSize(const QString& descriptorName, kavel::ImageSize previous,
                                                 QString& warning) {
    ImageSizeForm->SetPendingSize(previous);
    ImageSizeForm->exec();
    const kavel::ImageSize typed = ImageSizeForm->PendingSize();
    // Checked before the descriptor is written, so a size that cannot be an
    // image never reaches the next open either.
    if (const std::optional<QString> refusal = ImageSizeRefusal(typed.Lines, typed.Columns)) {
        return kavel::Error{refusal->toStdString()};
    }
    const kavel::Status written =
        kavel::WriteDescriptorFile(ToPath(descriptorName), typed, kavel::DescriptorForm::TwoLines);
    if (!written) {
        warning = QObject::tr("The descriptor %1 could not be written:\n%2")
                      .arg(Native(descriptorName), ErrorText(written.error()));
    }
    return typed;
}

QString BytesText(std::uint64_t bytes) {
    return bytes == 1 ? QObject::tr("1 byte") : QObject::tr("%1 bytes").arg(bytes);
}

// "scene.raw holds 100 bytes; its descriptor describes 60000 x 60000 (3.4 GB)"
QString MismatchText(const QString& fileName, std::uint64_t fileBytes, kavel::ImageSize size,
                     bool described) {
    const auto pixels = static_cast<std::uint64_t>(size.Lines) * static_cast<std::uint64_t>(size.Columns);
    return QObject::tr("%1 holds %2; %3 describes %4 \u00d7 %5 (%6)")
        .arg(QFileInfo(fileName).fileName(), BytesText(fileBytes),
             described ? QObject::tr("its descriptor") : QObject::tr("the size typed"))
        .arg(size.Lines)
        .arg(size.Columns)
        .arg(QString::fromStdString(kavel::ByteSizeText(pixels)));
}

// The progress of one open: reading the lines the file holds, then making
// the display of all of them.
std::uint64_t OpenSteps(int linesRead, int lines) {
    return static_cast<std::uint64_t>(linesRead) + static_cast<std::uint64_t>(lines);
}

// The pixels of an opened source, band by band under a progress dialog that
// goes on for the display.
OpenAttempt ReadPixels(kavel::LineSource& source, int linesInFile, const QString& fileName, QString warning,
                       QString notice, std::optional<LongCommand>& progress) {
    const kavel::ImageSize size = source.Size();
    if (const std::optional<QString> refusal = OpenMemoryRefusal(size.Lines, size.Columns)) {
        return OpenFailure{Refusal::Reason, *refusal};
    }
    kavel::Expected<kavel::ByteMatrix> pixels = kavel::AllocateByteMatrix(size.Columns, size.Lines);
    if (!pixels) {
        return Failed(fileName, pixels.error());
    }
    LongCommand& command = progress.emplace(MainForm, QStringLiteral("OPEN IMAGE"),
                                            QObject::tr("Reading %1...").arg(QFileInfo(fileName).fileName()));
    const std::uint64_t total = OpenSteps(linesInFile, size.Lines);
    const kavel::Expected<bool> read = ReadInBands(source, *pixels, linesInFile, [&command, total](int done) {
        return command.Step(static_cast<std::uint64_t>(done), total);
    });
    if (!read) {
        return Failed(fileName, read.error());
    }
    if (!*read) {
        return OpenFailure{Refusal::Stopped, {}};
    }
    OpenAttempt attempt =
        WithResult(std::move(pixels).value(), fileName, std::move(warning), std::move(notice));
    if (auto* opened = std::get_if<OpenedImage>(&attempt)) {
        opened->LinesRead = linesInFile;
    }
    return attempt;
}

OpenAttempt ReadRawImage(const TMainForm& main, std::optional<LongCommand>& progress) {
    const QString& fileName = main.ImagePath;
    // Before anything else, so a pipe or a device never gets as far as the
    // size dialog or a read that would wait for ever.
    if (const kavel::Status usable = kavel::CheckImageFile(ToPath(fileName)); !usable) {
        return Failed(fileName, usable.error());
    }
    const QString& descriptorName = main.DescriptorFileName;
    QString warning;
    kavel::ImageSize size;
    const QFileInfo descriptor(descriptorName);
    if (descriptor.exists() && !descriptor.isFile() && !descriptor.isDir()) {
        return Failed(descriptorName, kavel::CheckImageFile(ToPath(descriptorName)).error());
    }
    const bool described = descriptor.isFile() && descriptor.isReadable();
    if (described) {
        const kavel::Expected<kavel::ImageSize> read = kavel::ReadDescriptorFile(ToPath(descriptorName));
        if (!read) {
            return Failed(descriptorName, read.error());
        }
        size = *read;
    } else {
        const kavel::Expected<kavel::ImageSize> typed =
            TypedImageSize(descriptorName, {main.ImageLines, main.ImageColumns}, warning);
        if (!typed) {
            return Failed(fileName, typed.error());
        }
        size = *typed;
    }
    if (const std::optional<QString> refusal = OpenMemoryRefusal(size.Lines, size.Columns)) {
        return OpenFailure{Refusal::Reason, *refusal};
    }
    kavel::Expected<kavel::LineSource> source = kavel::LineSource::OpenRaw(ToPath(fileName), size);
    if (!source) {
        return Failed(fileName, source.error());
    }

    // A file and its size that disagree are never passed over in silence:
    // too short, and the user decides before anything is allocated; too
    // long, and the status line says so.
    const std::uint64_t fileBytes = source->FileBytes();
    const auto pixels = static_cast<std::uint64_t>(size.Lines) * static_cast<std::uint64_t>(size.Columns);
    QString notice;
    if (fileBytes < pixels) {
        const QString mismatch = MismatchText(fileName, fileBytes, size, described);
        SetScreenCursorArrow();
        const auto answer = QMessageBox::question(MainForm, QStringLiteral("OPEN IMAGE"),
                                                  mismatch + QObject::tr(". Open it anyway?"));
        if (answer != QMessageBox::Yes) {
            return OpenFailure{Refusal::Declined, {}};
        }
        SetScreenCursorHourglass();
        notice = mismatch + QObject::tr(": the missing pixels are black.");
    } else if (fileBytes > pixels) {
        notice = MismatchText(fileName, fileBytes, size, described) + QObject::tr(": the rest is not read.");
    }
    // Only the lines the file holds are read; the others stay the zeros of a
    // new matrix, which cost no memory.
    const std::uint64_t columns = std::max(size.Columns, 1);
    const auto linesInFile = static_cast<int>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(size.Lines), (std::min(fileBytes, pixels) + columns - 1) / columns));
    return ReadPixels(*source, linesInFile, fileName, std::move(warning), std::move(notice), progress);
}

OpenAttempt ReadBitmapImage(const TMainForm& main, std::optional<LongCommand>& progress) {
    const QString& fileName = main.ImagePath;
    // The depth is decided from the header, before any row is read: a 24-bit
    // file gets the CAUTION box whatever its header size or pixel offset.
    kavel::Expected<kavel::LineSource> bitmap = kavel::LineSource::OpenBitmap(ToPath(fileName));
    if (!bitmap) {
        if (kavel::IsColourBitmapRefusal(bitmap.error())) {
            return OpenFailure{Refusal::TrueColourBitmap, {}};
        }
        return Failed(fileName, bitmap.error());
    }
    return ReadPixels(*bitmap, bitmap->Size().Lines, fileName, {}, {}, progress);
}

// The files the image on show was read from; a save must not replace them.
std::vector<std::filesystem::path>& OpenImageFiles() {
    static std::vector<std::filesystem::path> files;
    return files;
}

}  // namespace

const std::vector<std::filesystem::path>& FilesOfOpenImage() {
    return OpenImageFiles();
}

void TMainForm::OpenImage() {
    // Until a file has been chosen the dialog starts among the samples; later
    // it stays where the user left it.
    if (ImagePath.isEmpty()) {
        OpenPictureDialog->setDirectory(DefaultImageFolder());
    }
    for (;;) {
        if (OpenPictureDialog->exec() != QDialog::Accepted || OpenPictureDialog->selectedFiles().isEmpty()) {
            return;
        }
        const QString fileName = OpenPictureDialog->selectedFiles().constFirst();
        ImageFileName = fileName;
        const bool raw = SelectedFilterIndex(*OpenPictureDialog) == 0;
        const QString caption = QStringLiteral(" 1.- ") + fileName;
        ImagePath = fileName;
        ImageForm->CaptionText = caption;
        ImageCaption = caption;

        SetScreenCursorHourglass();
        std::optional<LongCommand> progress;
        OpenAttempt attempt;
        if (raw) {
            const std::string name = fileName.toStdString();
            ImageDirectory = QString::fromStdString(kavel::DirectoryPartOf(name));
            // NAME.txt, or the same name with "TXT" in other letter cases.
            DescriptorFileName = FromPath(kavel::FindDescriptor(ToPath(fileName)).Name);
            attempt = ReadRawImage(*this, progress);
        } else {
            attempt = ReadBitmapImage(*this, progress);
        }

        if (auto* opened = std::get_if<OpenedImage>(&attempt)) {
            // The working state changes all at once; the image it replaces is
            // kept until the new one is on show, so a Cancel while the display
            // is made gives it back.
            kavel::ByteMatrix previousSource = std::exchange(SourceRows, std::move(opened->Source));
            kavel::ByteMatrix previousResult = std::exchange(ResultRows, std::move(opened->Result));
            const bool hadImage = ImageForm->DisplayBitmap() != nullptr;
            const kavel::TRasterImage raster = CreateRasterImage(SourceRows);
            LongCommand& command = *progress;
            const std::uint64_t total = OpenSteps(opened->LinesRead, raster.Lines());
            const int linesRead = opened->LinesRead;
            const bool shown = ImageForm->SetImage(raster, [&command, total, linesRead](int done) {
                return command.Step(static_cast<std::uint64_t>(linesRead + done), total);
            });
            if (command.Cancelled()) {
                SourceRows = std::move(previousSource);
                ResultRows = std::move(previousResult);
                const kavel::TRasterImage previous = CreateRasterImage(SourceRows);
                if (hadImage) {
                    ImageForm->SetImage(previous);
                }
                progress.reset();
                SetScreenCursorArrow();
                return;
            }
            previousSource = {};
            previousResult = {};
            progress.reset();
            OpenImageFiles() = {ToPath(fileName)};
            if (raw) {
                OpenImageFiles().push_back(ToPath(DescriptorFileName));
            }
            ImageForm->SetCaption(ImageForm->CaptionText);
            ImageForm->BringToFront();
            SetScreenCursorArrow();
            if (!shown) {
                QMessageBox::warning(this, QStringLiteral("OPEN IMAGE"), DisplayFailureText(raster));
            }
            if (opened->Notice.isEmpty()) {
                StatusBar->clearMessage();
            } else {
                StatusBar->showMessage(opened->Notice, kNoticeMs);
            }
            if (!opened->Warning.isEmpty()) {
                QMessageBox::warning(this, QStringLiteral("OPEN IMAGE"), opened->Warning);
            }
            return;
        }

        progress.reset();
        SetScreenCursorArrow();
        const auto& failure = std::get<OpenFailure>(attempt);
        if (failure.Kind == Refusal::Stopped) {
            return;
        }
        if (failure.Kind == Refusal::Declined) {
            continue;
        }
        if (failure.Kind == Refusal::TrueColourBitmap) {
            QMessageBox caution(QMessageBox::NoIcon, QStringLiteral("CAUTION"),
                                QStringLiteral("This program does not take into account RBV Bitmap"),
                                QMessageBox::Ok);
            caution.exec();
        } else {
            QMessageBox::warning(this, QStringLiteral("OPEN IMAGE"), failure.Reason);
        }
    }
}
