#include "ui/field_style.h"

#include <QApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QStyleFactory>
#include <QStyleOptionFrame>

namespace velt {

FieldStyle* FieldStyle::ofApplication(QObject* owner) {
    // Qt's own styles draw a panel from the option alone. Others may animate it (a focus
    // rim fading in, read from the style's own state per widget), which a kept pixmap
    // would freeze at its first frame.
    const QString name = QApplication::style()->name();
    if (name.compare(u"fusion", Qt::CaseInsensitive) != 0 &&
        name.compare(u"windows", Qt::CaseInsensitive) != 0)
        return nullptr;
    QStyle* base = QStyleFactory::create(name);
    if (!base)
        return nullptr;
    auto* style = new FieldStyle(base);
    style->setParent(owner);
    return style;
}

void FieldStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const {
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    // Scaled or rotated painting, or another element: drawn as the style draws it.
    if (element != PE_PanelLineEdit || !frame ||
        painter->transform().type() > QTransform::TxTranslate)
        return QProxyStyle::drawPrimitive(element, option, painter, widget);
    const qreal ratio = painter->device()->devicePixelRatio();
    // Everything the panel's look depends on: the widget itself only for its kind and
    // parent, which are alike for every field of the window.
    const QString key = QStringLiteral("velt-field-%1-%2x%3-%4-%5-%6-%7-%8-%9")
                            .arg(quintptr(this), 0, 16)
                            .arg(frame->rect.width())
                            .arg(frame->rect.height())
                            .arg(uint(frame->state), 0, 16)
                            .arg(int(frame->direction))
                            .arg(frame->palette.cacheKey())
                            .arg(frame->lineWidth * 1000 + frame->midLineWidth)
                            .arg(int(frame->features) * 100 + int(frame->frameShape))
                            .arg(ratio);
    QPixmap panel;
    if (!QPixmapCache::find(key, &panel)) {
        panel = QPixmap(frame->rect.size() * ratio);
        panel.setDevicePixelRatio(ratio);
        panel.fill(Qt::transparent);
        QStyleOptionFrame atOrigin = *frame;
        atOrigin.rect.moveTo(0, 0);
        QPainter onPanel(&panel);
        QProxyStyle::drawPrimitive(element, &atOrigin, &onPanel, widget);
        onPanel.end();
        QPixmapCache::insert(key, panel);
    }
    painter->drawPixmap(frame->rect.topLeft(), panel);
}

} // namespace velt
