// Opening a gray-tone image: a raw file sized by its descriptor (or by the size
// dialog, after which the descriptor is written), an 8-bit bitmap, or any
// other image once converted to 8-bit gray.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QTextStream>
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
#include "kavel/convert.h"
#include "kavel/imagefile.h"
#include "kavel/memorybudget.h"
#include "kavel/openplan.h"
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

// The pixels of a loadable plan, band by band under a progress dialog that
// goes on for the display. Only the top linesInFile lines are read: below
// them a short raw file holds nothing, and the new matrix is already 0.
OpenAttempt LoadPlan(const kavel::OpenPlan& plan, int linesInFile, QString warning, QString notice,
                     std::optional<LongCommand>& progress) {
    const QString fileName = FromPath(plan.File);
    if (const std::optional<QString> refusal = OpenMemoryRefusal(plan.Size.Lines, plan.Size.Columns)) {
        return OpenFailure{Refusal::Reason, *refusal};
    }
    kavel::Expected<kavel::ImageLoader> loader = kavel::ImageLoader::Start(plan);
    if (!loader) {
        return Failed(fileName, loader.error());
    }
    LongCommand& command = progress.emplace(MainForm, QStringLiteral("OPEN IMAGE"),
                                            QObject::tr("Reading %1...").arg(QFileInfo(fileName).fileName()));
    const std::uint64_t total = OpenSteps(linesInFile, plan.Size.Lines);
    while (!loader->Done() && loader->LinesRead() < linesInFile) {
        if (const kavel::Status read = loader->ReadBand(); !read) {
            return Failed(fileName, read.error());
        }
        if (!command.Step(static_cast<std::uint64_t>(loader->LinesRead()), total)) {
            return OpenFailure{Refusal::Stopped, {}};
        }
    }
    OpenAttempt attempt = WithResult(loader->Take(), fileName, std::move(warning), std::move(notice));
    if (auto* opened = std::get_if<OpenedImage>(&attempt)) {
        opened->LinesRead = linesInFile;
    }
    return attempt;
}

// A descriptor too large to be an image: the size and the memory it would
// need, read the way the descriptor is read (two integers after white space
// and a sign).
QString DescriptorRefusalText(const kavel::OpenPlan& plan) {
    const QString descriptor = FromPath(plan.Descriptor);
    QFile file(descriptor);
    if (file.open(QIODevice::ReadOnly) && file.size() < 4096) {
        QTextStream text(&file);
        qint64 lines = 0;
        qint64 columns = 0;
        text >> lines >> columns;
        if (text.status() == QTextStream::Ok) {
            if (const std::optional<QString> refusal = ImageSizeRefusal(lines, columns)) {
                return QObject::tr("Cannot open %1:\n%2").arg(Native(descriptor), *refusal);
            }
        }
    }
    return Failed(descriptor, plan.Refusal).Reason;
}

OpenAttempt ReadRawImage(TMainForm& main, std::optional<LongCommand>& progress) {
    const QString& fileName = main.ImagePath;
    // The file is looked at before anything else (a pipe or a device never
    // gets as far as the size dialog or a read that would wait for ever),
    // then its descriptor; nothing is allocated yet.
    kavel::OpenPlan plan = kavel::PlanOpen(ToPath(fileName), kavel::OpenAs::RawBytes);
    // NAME.txt, or the same name with "TXT" in other letter cases.
    main.DescriptorFileName =
        FromPath(plan.Descriptor.empty() ? kavel::FindDescriptor(ToPath(fileName)).Name : plan.Descriptor);
    QString warning;
    if (plan.Kind == kavel::OpenKind::Refused && plan.DescriptorRefused) {
        const QFileInfo descriptor(FromPath(plan.Descriptor));
        // A descriptor that is there but cannot be opened (a folder, no read
        // permission) counts as none: the size is asked and a new one written.
        if (!descriptor.isDir() && !(descriptor.isFile() && !descriptor.isReadable())) {
            return OpenFailure{Refusal::Reason, DescriptorRefusalText(plan)};
        }
        plan.Kind = kavel::OpenKind::RawUnsized;
    }
    if (plan.Kind == kavel::OpenKind::Refused) {
        return Failed(fileName, plan.Refusal);
    }
    const bool described = plan.Kind == kavel::OpenKind::RawDescribed;
    if (plan.Kind == kavel::OpenKind::RawUnsized) {
        const kavel::Expected<kavel::ImageSize> typed =
            TypedImageSize(main.DescriptorFileName, {main.ImageLines, main.ImageColumns}, warning);
        if (!typed) {
            return Failed(fileName, typed.error());
        }
        plan = kavel::PlanOpen(ToPath(fileName), kavel::OpenAs::RawBytes, *typed);
        if (plan.Kind == kavel::OpenKind::Refused) {
            return Failed(fileName, plan.Refusal);
        }
    }
    if (const std::optional<QString> refusal = OpenMemoryRefusal(plan.Size.Lines, plan.Size.Columns)) {
        return OpenFailure{Refusal::Reason, *refusal};
    }

    // A file and its size that disagree are never passed over in silence:
    // too short, and the user decides before anything is allocated; too
    // long, and the status line says so.
    QString notice;
    const QString mismatch = MismatchText(fileName, plan.FileBytes, plan.Size, described);
    if (plan.Mismatch() == kavel::SizeMismatch::Short) {
        SetScreenCursorArrow();
        const auto answer = QMessageBox::question(MainForm, QStringLiteral("OPEN IMAGE"),
                                                  mismatch + QObject::tr(". Open it anyway?"));
        if (answer != QMessageBox::Yes) {
            return OpenFailure{Refusal::Declined, {}};
        }
        SetScreenCursorHourglass();
        notice = mismatch + QObject::tr(": the missing pixels are black.");
    } else if (plan.Mismatch() == kavel::SizeMismatch::Long) {
        notice = mismatch + QObject::tr(": the rest is not read.");
    }
    const std::uint64_t columns = std::max(plan.Size.Columns, 1);
    const auto linesInFile = static_cast<int>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(plan.Size.Lines),
                                (std::min(plan.FileBytes, plan.PixelBytes()) + columns - 1) / columns));
    return LoadPlan(plan, linesInFile, std::move(warning), std::move(notice), progress);
}

// How a file the bitmap entry does not read opens: the third entry.
QString ThroughConversionText() {
    return QObject::tr("It opens through \"%1\" in Files of type.")
        .arg(QString::fromLatin1(kConvertedEntryLabel));
}

OpenAttempt ReadBitmapImage(const TMainForm& main, std::optional<LongCommand>& progress) {
    const QString& fileName = main.ImagePath;
    // The depth is decided from the header, before any row is read: a 24-bit
    // file gets the CAUTION box whatever its header size or pixel offset.
    const kavel::OpenPlan plan = kavel::PlanOpen(ToPath(fileName), kavel::OpenAs::Bitmap);
    if (plan.Kind == kavel::OpenKind::GrayBitmap) {
        return LoadPlan(plan, plan.Size.Lines, {}, {}, progress);
    }
    if (plan.Kind == kavel::OpenKind::Convert) {
        const QString what = QString::fromStdString(plan.What);
        const QString reason = what.isEmpty() ? ErrorText(plan.Refusal) : what;
        return OpenFailure{plan.ColourBitmap ? Refusal::TrueColourBitmap : Refusal::Reason,
                           QObject::tr("Cannot open %1 as a bitmap: %2.\n%3")
                               .arg(Native(fileName), reason, ThroughConversionText())};
    }
    if (plan.ColourBitmap) {
        return OpenFailure{Refusal::TrueColourBitmap, {}};
    }
    return Failed(fileName, plan.Refusal);
}

// Any image Qt's readers decode, converted to 8-bit gray as kavel-cli import
// converts it, then opened as a bitmap is.
OpenAttempt ReadConvertedImage(const TMainForm& main, std::optional<LongCommand>& progress) {
    const QString& fileName = main.ImagePath;
    progress.emplace(MainForm, QStringLiteral("OPEN IMAGE"),
                     QObject::tr("Converting %1...").arg(QFileInfo(fileName).fileName()));
    kavel::Expected<kavel::ConvertedImage> converted = kavel::ConvertImageFile(ToPath(fileName));
    if (!converted) {
        return Failed(fileName, converted.error());
    }
    QString notice = QObject::tr("%1: %2, converted to 8-bit gray")
                         .arg(QFileInfo(fileName).fileName(), QString::fromStdString(converted->Description));
    if (converted->ColourConverted) {
        notice += QStringLiteral("; ") + QString::fromStdString(kavel::ColourNote());
    }
    return WithResult(std::move(converted->Gray), fileName, {}, notice);
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
        const qsizetype entry = SelectedFilterIndex(*OpenPictureDialog);
        const bool raw = entry == 0;
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
            attempt = ReadRawImage(*this, progress);
        } else if (entry == 2) {
            attempt = ReadConvertedImage(*this, progress);
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
            LongCommand& command =
                progress ? *progress : progress.emplace(this, QStringLiteral("OPEN IMAGE"), QString());
            command.SetLabel(tr("Making the display of %1...").arg(QFileInfo(fileName).fileName()));
            const std::uint64_t total = OpenSteps(opened->LinesRead, raster.Lines());
            const int linesRead = opened->LinesRead;
            const bool shown = ImageForm->SetImage(raster, [&command, total, linesRead](int done) {
                return command.Step(OpenSteps(linesRead, done), total);
            });
            if (command.Cancelled()) {
                SourceRows = std::move(previousSource);
                ResultRows = std::move(previousResult);
                // Also puts the previous size back into ImageLines and ImageColumns.
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
            // Then, for a file the conversion reads, the entry that opens it.
            if (!failure.Reason.isEmpty()) {
                QMessageBox::information(this, QStringLiteral("OPEN IMAGE"), failure.Reason);
            }
        } else {
            QMessageBox::warning(this, QStringLiteral("OPEN IMAGE"), failure.Reason);
        }
    }
}
