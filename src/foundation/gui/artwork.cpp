#include "foundation/gui/artwork.h"

#include "foundation/gui/look.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace sorna::artwork {

void paintEmblem(QPainter& p, const QRectF& box)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal r = std::min(box.width(), box.height()) / 2;
    const QPointF c = box.center();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xf7, 0xfa));
    p.drawEllipse(c, r, r);
    p.setBrush(QColor(0x2f, 0x80, 0xc8));
    p.drawEllipse(c, r * 0.78, r * 0.78);
    // A card with its stripe, tilted a little.
    p.translate(c);
    p.rotate(-12);
    const QRectF card(-r * 0.52, -r * 0.34, r * 1.04, r * 0.68);
    p.setBrush(QColor(0xff, 0xff, 0xff));
    p.drawRoundedRect(card, r * 0.08, r * 0.08);
    p.setBrush(kNavy);
    p.drawRect(QRectF(card.left(), card.top() + card.height() * 0.2, card.width(), card.height() * 0.18));
    p.setBrush(kYellow);
    p.drawRoundedRect(QRectF(card.left() + card.width() * 0.1, card.top() + card.height() * 0.55,
                             card.width() * 0.22, card.height() * 0.26),
                      1.5, 1.5);
    p.restore();
}

QIcon appIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    paintEmblem(p, QRectF(0, 0, 32, 32));
    p.end();
    return QIcon(pm);
}

namespace {

void paintTitleBand(QPainter& p, int width, int height, double titlePoints)
{
    p.fillRect(0, 0, width, height, kNavy);
    p.fillRect(0, height - 3, width, 3, kYellow);
    const int emblem = height - 22;
    paintEmblem(p, QRectF(18, 10, emblem, emblem));
    p.setPen(QColor(0xc9, 0xd6, 0xea));
    p.setFont(look::uiFont(9.5, 400));
    p.drawText(QRect(26 + emblem, 12, width - 40 - emblem, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("교육청 특수교육지원 카드"));
    p.setPen(Qt::white);
    p.setFont(look::uiFont(titlePoints, 800));
    p.drawText(QRect(26 + emblem, 28, width - 40 - emblem, height - 34), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("소르나 승인 시스템"));
}

} // namespace

void paintLoginBackground(QPainter& p, const QSize& size)
{
    p.fillRect(QRect(QPoint(0, 0), size), kSlateBlue);
    paintTitleBand(p, size.width(), 150, 26);

    // The sign-in panel around the two boxes and the button.
    const QRect panel(look::twips(1320), look::twips(3600), look::twips(7680), look::twips(1950));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x8f, 0xa6, 0xc8), 1));
    p.setBrush(QColor(0x43, 0x59, 0x7c));
    p.drawRoundedRect(panel, 10, 10);

    p.setPen(kYellow);
    p.setFont(look::uiFont(14, 700));
    const int labelLeft = look::twips(1560);
    const int labelWidth = look::twips(3360) - labelLeft - 12;
    p.drawText(QRect(labelLeft, look::twips(3960), labelWidth, look::twips(495)),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("사업자번호"));
    p.drawText(QRect(labelLeft, look::twips(4620), labelWidth, look::twips(495)),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("인증번호"));

    // The support line above this one is the login window's own label,
    // shown only when the settings give one.
    p.setFont(look::uiFont(9.5, 400));
    p.setPen(QColor(0xb8, 0xc6, 0xdc));
    p.drawText(QRect(0, look::twips(6000) + 26, size.width(), 20), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("사업자번호와 인증번호를 입력한 뒤 로그인을 누르세요"));
}

void paintMainBackground(QPainter& p, const QSize& size)
{
    p.fillRect(QRect(QPoint(0, 0), size), QColor(0xf3, 0xf5, 0xf9));
    paintTitleBand(p, size.width(), 74, 17);

    auto heading = [&p, &size](int top, const QString& text) {
        p.setPen(Qt::NoPen);
        p.setBrush(kNavy);
        p.drawRect(12, top + 6, 5, 14);
        p.setPen(kNavy);
        p.setFont(look::uiFont(11.25, 700));
        p.drawText(QRect(24, top, size.width() - 36, 26), Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    heading(80, QStringLiteral("요청항목"));
    heading(498, QStringLiteral("결과메세지"));
}

} // namespace sorna::artwork
