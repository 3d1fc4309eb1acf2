#pragma once
// The window's number fields change their text every frame while readings come in. The
// application's style draws a line edit's panel anew on each repaint (Fusion: an
// antialiased rounded frame, a shadow, a focus rim), which cost more than the text.
// FieldStyle is the application's style, made again by name, that keeps each panel it
// draws as a pixmap and draws that instead; what it draws is pixel for pixel the same.

#include <QProxyStyle>

namespace velt {

class FieldStyle : public QProxyStyle {
public:
    // Owned by `owner`, which must outlive the widgets that use it. Null unless the
    // application's style is one of Qt's own (Fusion, Windows): then the fields keep the
    // application's style itself.
    static FieldStyle* ofApplication(QObject* owner);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

private:
    explicit FieldStyle(QStyle* base) : QProxyStyle(base) {}
};

} // namespace velt
