// The picture preview pane of the file dialogs: a thumbnail of the selected
// raw image (sized by its descriptor), bitmap or any image the conversion
// reads, with its size.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <optional>

class QLabel;

struct PreviewPicture {
    QImage Thumbnail;  // at most kPreviewSide on each side, not smoothed
    int Lines = 0;
    int Columns = 0;
};

inline constexpr int kPreviewSide = 128;
// Files larger than this are not read for a preview, so that choosing one
// never holds the dialog up.
inline constexpr qint64 kPreviewMaxFileBytes = 16 * 1024 * 1024;

// Reads a preview with the program's own readers: regular files only, within
// the size cap; nothing for a file that cannot be read as an image.
std::optional<PreviewPicture> ReadPreview(const QString& fileName);

class TFilePreview : public QWidget {
    Q_OBJECT

public:
    explicit TFilePreview(QWidget* parent = nullptr);

    void ShowFile(const QString& fileName);

    QLabel* Picture() const noexcept { return picture_; }
    QLabel* SizeText() const noexcept { return sizeText_; }

private:
    QLabel* picture_;
    QLabel* sizeText_;
};
