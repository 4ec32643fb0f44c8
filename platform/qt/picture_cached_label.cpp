#include "platform/qt/picture_cached_label.h"

#include <QPainter>
#include <QStyle>
#include <QTextDocument>

namespace platform::qt {

bool PictureCachedLabel::hasPixmap() const {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return !pixmap().isNull();
#else
    return !pixmap(Qt::ReturnByValue).isNull();
#endif
}

void PictureCachedLabel::paintEvent(QPaintEvent* event) {
    // Rich text, frames and the rest stay with QLabel's own drawing.
    if (textFormat() == Qt::RichText || (textFormat() == Qt::AutoText && Qt::mightBeRichText(text())) ||
        frameWidth() != 0 || hasPixmap() || text().isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    auto found = pictures_.find(text());
    if (found == pictures_.end()) {
        if (pictures_.size() >= kPictureLimit) pictures_.clear();
        QPixmap picture((QSizeF(size()) * ratio).toSize());
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setFont(font());
        painter.setLayoutDirection(layoutDirection());
        // What QLabel::paintEvent does for plain text.
        QRect area = contentsRect();
        area.adjust(margin(), margin(), -margin(), -margin());
        const int flags =
            QStyle::visualAlignment(layoutDirection(), alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
        style()->drawItemText(&painter, area, static_cast<int>(flags), palette(), isEnabled(), text(),
                              foregroundRole());
        painter.end();
        found = pictures_.insert(text(), picture);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, *found);
}

void PictureCachedLabel::changeEvent(QEvent* event) {
    pictures_.clear();  // font, palette, style or state: every picture is stale
    QLabel::changeEvent(event);
}

void PictureCachedLabel::resizeEvent(QResizeEvent* event) {
    pictures_.clear();
    QLabel::resizeEvent(event);
}

}  // namespace platform::qt
