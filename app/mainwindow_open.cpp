// Opening a gray-tone image: a raw file sized by its descriptor (or by the size
// dialog, after which the descriptor is written), or an 8-bit bitmap.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
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
#include "mainwindow.h"
#include "memorymessages.h"
#include "qtconvert.h"

namespace {

// What one attempt produced: the two matrices to commit, or why it failed.
struct OpenedImage {
    kavel::ByteMatrix Source;
    kavel::ByteMatrix Result;
    QString Warning;  // shown after the image, which opened anyway
};

enum class Refusal { Reason, TrueColourBitmap };

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
OpenAttempt WithResult(kavel::ByteMatrix source, const QString& fileName, QString warning = {}) {
    kavel::Expected<kavel::ByteMatrix> result = kavel::AllocateByteMatrix(source.Columns(), source.Lines());
    if (!result) {
        return Failed(fileName, result.error());
    }
    return OpenedImage{std::move(source), std::move(result).value(), std::move(warning)};
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
    if (typed.Lines < 0 || typed.Columns < 0 ||
        static_cast<std::uint64_t>(typed.Lines) * static_cast<std::uint64_t>(typed.Columns) >
            kavel::kMaxImagePixels) {
        return kavel::Error{QObject::tr("%1 lines and %2 columns is not an image size")
                                .arg(typed.Lines)
                                .arg(typed.Columns)
                                .toStdString()};
    }
    const kavel::Status written =
        kavel::WriteDescriptorFile(ToPath(descriptorName), typed, kavel::DescriptorForm::TwoLines);
    if (!written) {
        warning = QObject::tr("The descriptor %1 could not be written:\n%2")
                      .arg(Native(descriptorName), ErrorText(written.error()));
    }
    return typed;
}

OpenAttempt ReadRawImage(const TMainForm& main) {
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
    if (descriptor.isFile() && descriptor.isReadable()) {
        const kavel::Expected<kavel::ImageSize> described = kavel::ReadDescriptorFile(ToPath(descriptorName));
        if (!described) {
            return Failed(descriptorName, described.error());
        }
        size = *described;
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
    kavel::Expected<kavel::RawImage> raw = kavel::LoadRawImage(ToPath(fileName), size);
    if (!raw) {
        return Failed(fileName, raw.error());
    }
    return WithResult(std::move(raw->Pixels), fileName, std::move(warning));
}

OpenAttempt ReadBitmapImage(const TMainForm& main) {
    const QString& fileName = main.ImagePath;
    // The depth is decided from the header, before any row is read: a 24-bit
    // file gets the CAUTION box whatever its header size or pixel offset.
    kavel::Expected<kavel::ByteMatrix> bitmap = kavel::LoadGrayBitmap(ToPath(fileName));
    if (!bitmap) {
        if (kavel::IsColourBitmapRefusal(bitmap.error())) {
            return OpenFailure{Refusal::TrueColourBitmap, {}};
        }
        return Failed(fileName, bitmap.error());
    }
    return WithResult(std::move(bitmap).value(), fileName);
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
        OpenAttempt attempt;
        if (raw) {
            const std::string name = fileName.toStdString();
            ImageDirectory = QString::fromStdString(kavel::DirectoryPartOf(name));
            // NAME.txt, or the same name with "TXT" in other letter cases.
            DescriptorFileName = FromPath(kavel::FindDescriptor(ToPath(fileName)).Name);
            attempt = ReadRawImage(*this);
        } else {
            attempt = ReadBitmapImage(*this);
        }

        if (auto* opened = std::get_if<OpenedImage>(&attempt)) {
            // Only now does the working state change, all of it at once.
            SourceRows = std::move(opened->Source);
            ResultRows = std::move(opened->Result);
            OpenImageFiles() = {ToPath(fileName)};
            if (raw) {
                OpenImageFiles().push_back(ToPath(DescriptorFileName));
            }
            const kavel::TRasterImage raster = CreateRasterImage(SourceRows);
            ImageForm->SetCaption(ImageForm->CaptionText);
            const bool shown = ImageForm->SetImage(raster);
            ImageForm->BringToFront();
            SetScreenCursorArrow();
            if (!shown) {
                QMessageBox::warning(this, QStringLiteral("OPEN IMAGE"), DisplayFailureText(raster));
            }
            if (!opened->Warning.isEmpty()) {
                QMessageBox::warning(this, QStringLiteral("OPEN IMAGE"), opened->Warning);
            }
            return;
        }

        SetScreenCursorArrow();
        const auto& failure = std::get<OpenFailure>(attempt);
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
