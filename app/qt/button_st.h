#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QIcon>
#include <cstdint>

namespace paginor {

// A Windows colour value (0x00BBGGRR, red in the low byte) as a Qt colour.
QColor colorFromColorRef(std::uint32_t colorRef);

// An icon button that tracks the mouse: flat buttons show their hover colours and a raised edge
// while the mouse is over them.
class CButtonST : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr std::uint32_t kDefaultBgColor = 0xBFBFBF;

    explicit CButtonST(QWidget* parent = nullptr);

    // iconIn is shown while hovered or pressed; iconOut otherwise (iconIn when empty).
    void SetIcon(const QIcon& iconIn, const QIcon& iconOut, int width, int height);
    void SetFlat(bool flat);
    bool IsFlat() const { return m_flat; }
    void SetNormalBgColor(std::uint32_t color, bool repaint = true);
    void SetNormalTextColor(std::uint32_t color, bool repaint = true);
    void SetHoverBgColor(std::uint32_t color, bool repaint = true);
    void SetHoverTextColor(std::uint32_t color, bool repaint = true);
    void SetDefaultColors(bool repaint = true);
    std::uint32_t GetNormalBgColor() const { return m_normalBg; }
    std::uint32_t GetNormalTextColor() const { return m_normalText; }
    std::uint32_t GetHoverBgColor() const { return m_hoverBg; }
    std::uint32_t GetHoverTextColor() const { return m_hoverText; }
    bool mouseOver() const { return m_mouseOver; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::uint32_t defaultTextColor() const;

    bool m_flat = true;
    bool m_mouseOver = false;
    QIcon m_iconIn;
    QIcon m_iconOut;
    QSize m_iconSize{32, 32};
    std::uint32_t m_normalBg = kDefaultBgColor;
    std::uint32_t m_normalText;
    std::uint32_t m_hoverBg = kDefaultBgColor;
    std::uint32_t m_hoverText;
};

}  // namespace paginor
