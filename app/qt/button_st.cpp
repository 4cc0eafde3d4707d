#include "app/qt/button_st.h"

#include <QEnterEvent>
#include <QPainter>
#include <QStyleOption>

namespace paginor {

QColor colorFromColorRef(std::uint32_t colorRef) {
    return QColor(static_cast<int>(colorRef & 0xFF), static_cast<int>((colorRef >> 8) & 0xFF),
                  static_cast<int>((colorRef >> 16) & 0xFF));
}

namespace {

std::uint32_t colorRefOf(const QColor& color) {
    return static_cast<std::uint32_t>(color.red()) |
           (static_cast<std::uint32_t>(color.green()) << 8) |
           (static_cast<std::uint32_t>(color.blue()) << 16);
}

}  // namespace

CButtonST::CButtonST(QWidget* parent)
    : QAbstractButton(parent), m_normalText(defaultTextColor()), m_hoverText(defaultTextColor()) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

std::uint32_t CButtonST::defaultTextColor() const {
    return colorRefOf(palette().color(QPalette::ButtonText));
}

void CButtonST::SetIcon(const QIcon& iconIn, const QIcon& iconOut, int width, int height) {
    m_iconIn = iconIn;
    m_iconOut = iconOut.isNull() ? iconIn : iconOut;
    m_iconSize = QSize(width, height);
    updateGeometry();
    repaint();
}

void CButtonST::SetFlat(bool flat) {
    m_flat = flat;
    if (!flat) {
        m_mouseOver = false;
    }
    update();
}

void CButtonST::SetNormalBgColor(std::uint32_t color, bool repaint) {
    m_normalBg = color;
    if (repaint) {
        update();
    }
}

void CButtonST::SetNormalTextColor(std::uint32_t color, bool repaint) {
    m_normalText = color;
    if (repaint) {
        update();
    }
}

void CButtonST::SetHoverBgColor(std::uint32_t color, bool repaint) {
    m_hoverBg = color;
    if (repaint) {
        update();
    }
}

void CButtonST::SetHoverTextColor(std::uint32_t color, bool repaint) {
    m_hoverText = color;
    if (repaint) {
        update();
    }
}

void CButtonST::SetDefaultColors(bool repaint) {
    m_normalBg = kDefaultBgColor;
    m_hoverBg = kDefaultBgColor;
    m_normalText = defaultTextColor();
    m_hoverText = defaultTextColor();
    if (repaint) {
        update();
    }
}

QSize CButtonST::sizeHint() const {
    QSize size = m_iconSize + QSize(8, 8);
    if (!text().isEmpty()) {
        size.rwidth() += fontMetrics().horizontalAdvance(text()) + 6;
    }
    return size;
}

void CButtonST::enterEvent(QEnterEvent* event) {
    // Only flat buttons track the mouse.
    if (m_flat && !m_mouseOver) {
        m_mouseOver = true;
        update();
    }
    QAbstractButton::enterEvent(event);
}

void CButtonST::leaveEvent(QEvent* event) {
    if (m_mouseOver) {
        m_mouseOver = false;
        update();
    }
    QAbstractButton::leaveEvent(event);
}

void CButtonST::focusOutEvent(QFocusEvent* event) {
    if (m_flat && m_mouseOver) {
        m_mouseOver = false;
        update();
    }
    QAbstractButton::focusOutEvent(event);
}

void CButtonST::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect area = rect();
    const bool pressed = isDown();
    const bool lit = m_mouseOver || pressed;
    if (!m_flat && hasFocus()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        area.adjust(1, 1, -1, -1);
    }
    painter.fillRect(area, colorFromColorRef(lit ? m_hoverBg : m_normalBg));

    const QPalette& colors = palette();
    const QRect edge = area.adjusted(0, 0, -1, -1);
    auto bevel = [&](const QColor& topLeft, const QColor& bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(edge.topLeft(), edge.topRight());
        painter.drawLine(edge.topLeft(), edge.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(edge.bottomLeft(), edge.bottomRight());
        painter.drawLine(edge.topRight(), edge.bottomRight());
    };
    if (pressed) {
        if (m_flat) {
            bevel(colors.color(QPalette::Dark), colors.color(QPalette::Light));
        } else {
            painter.setPen(colors.color(QPalette::Dark));
            painter.drawRect(edge);
        }
    } else if (!m_flat) {
        bevel(colors.color(QPalette::Light), colors.color(QPalette::Shadow));
        painter.setPen(colors.color(QPalette::Dark));
        painter.drawLine(edge.bottomLeft() + QPoint(1, -1), edge.bottomRight() + QPoint(-1, -1));
        painter.drawLine(edge.topRight() + QPoint(-1, 1), edge.bottomRight() + QPoint(-1, -1));
    } else if (m_mouseOver) {
        bevel(colors.color(QPalette::Light), colors.color(QPalette::Dark));
    }

    const QIcon& icon = lit ? m_iconIn : m_iconOut;
    const QPoint shift = pressed ? QPoint(1, 1) : QPoint(0, 0);
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    QRect iconRect(QPoint(0, 0), m_iconSize);
    if (text().isEmpty()) {
        iconRect.moveCenter(area.center());
    } else {
        iconRect.moveTopLeft(QPoint(area.left() + 3, area.center().y() - m_iconSize.height() / 2));
    }
    icon.paint(&painter, iconRect.translated(shift), Qt::AlignCenter, mode);
    if (!text().isEmpty()) {
        painter.setPen(colorFromColorRef(lit ? m_hoverText : m_normalText));
        QRect textRect = area.adjusted(iconRect.right() + 4, 0, 0, 0).translated(shift);
        painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text());
    }
}

}  // namespace paginor
