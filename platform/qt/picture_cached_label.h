#pragma once
// A label that keeps the picture of each text it has drawn. Qt draws glyphs
// larger than 64 pixels from their outlines on every paint: the draw
// window's 96-pixel name cost the spin more than a millisecond of processor
// a step, while a spin shows the same ten names over and over.

#include <QHash>
#include <QLabel>
#include <QPixmap>
#include <QString>

namespace platform::qt {

class PictureCachedLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool hasPixmap() const;

    static constexpr qsizetype kPictureLimit = 64;
    QHash<QString, QPixmap> pictures_;
};

}  // namespace platform::qt
