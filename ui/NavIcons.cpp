#include "ui/NavIcons.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSize = 16;

void DrawSheet(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(0x55, 0x5f, 0x6b), 1));
  p.setBrush(Qt::white);
  p.drawRect(r);
  p.setPen(QPen(QColor(0x7a, 0x8a, 0x9a), 1));
  for (qreal y = r.top() + 3; y < r.bottom() - 1; y += 2.5) p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
}

void DrawFolder(QPainter& p) {
  p.setPen(QPen(QColor(0x8a, 0x6d, 0x1e), 1));
  p.setBrush(QColor(0xf3, 0xc9, 0x4d));
  QPainterPath path;
  path.moveTo(1.5, 3.5);
  path.lineTo(6.0, 3.5);
  path.lineTo(7.5, 5.0);
  path.lineTo(14.5, 5.0);
  path.lineTo(14.5, 13.5);
  path.lineTo(1.5, 13.5);
  path.closeSubpath();
  p.drawPath(path);
}

void DrawArrow(QPainter& p, bool down) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2a, 0x6f, 0xc9));
  QPolygonF arrow;
  if (down)
    arrow << QPointF(5.5, 1.5) << QPointF(10.5, 1.5) << QPointF(10.5, 7.5) << QPointF(14.0, 7.5) << QPointF(8.0, 14.5)
          << QPointF(2.0, 7.5) << QPointF(5.5, 7.5);
  else
    arrow << QPointF(5.5, 14.5) << QPointF(10.5, 14.5) << QPointF(10.5, 8.5) << QPointF(14.0, 8.5) << QPointF(8.0, 1.5)
          << QPointF(2.0, 8.5) << QPointF(5.5, 8.5);
  p.drawPolygon(arrow);
}

void Draw(QPainter& p, TNavIcon kind) {
  switch (kind) {
    case TNavIcon::Connect:
    case TNavIcon::Disconnect: {
      const bool connect = kind == TNavIcon::Connect;
      p.setPen(Qt::NoPen);
      p.setBrush(connect ? QColor(0x2e, 0x9d, 0x3a) : QColor(0xc9, 0x2a, 0x2a));
      p.drawEllipse(QRectF(1, 1, 14, 14));
      p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      if (connect) {
        p.drawPolyline(QPolygonF() << QPointF(4.5, 8.0) << QPointF(7.0, 10.5) << QPointF(11.5, 5.5));
      } else {
        p.drawLine(QPointF(5.0, 5.0), QPointF(11.0, 11.0));
        p.drawLine(QPointF(11.0, 5.0), QPointF(5.0, 11.0));
      }
      return;
    }
    case TNavIcon::Page:
      DrawSheet(p, QRectF(2.5, 1.5, 11, 13));
      return;
    case TNavIcon::Read:
    case TNavIcon::Write:
      DrawArrow(p, kind == TNavIcon::Read);
      return;
    case TNavIcon::Save:
      p.setPen(QPen(QColor(0x1f, 0x3f, 0x6b), 1));
      p.setBrush(QColor(0x3b, 0x6e, 0xb4));
      p.drawRect(QRectF(1.5, 1.5, 13, 13));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4.5, 1.5, 7, 5));
      p.setBrush(QColor(0xd8, 0xdf, 0xe8));
      p.drawRect(QRectF(3.5, 9.5, 9, 5));
      return;
    case TNavIcon::Open:
      DrawFolder(p);
      return;
    case TNavIcon::Compare:
      DrawSheet(p, QRectF(0.5, 2.5, 7, 11));
      DrawSheet(p, QRectF(8.5, 2.5, 7, 11));
      return;
    case TNavIcon::Sites: {
      p.setPen(QPen(QColor(0x6b, 0x3a, 0x1f), 1));
      p.setBrush(QColor(0xc9, 0x5a, 0x2a));
      p.drawPolygon(QPolygonF() << QPointF(8.0, 1.5) << QPointF(15.0, 8.0) << QPointF(1.0, 8.0));
      p.setBrush(QColor(0xf0, 0xe6, 0xd2));
      p.drawRect(QRectF(3.5, 8.0, 9, 6.5));
      p.setBrush(QColor(0x6b, 0x3a, 0x1f));
      p.drawRect(QRectF(7.0, 10.5, 2.5, 4));
      return;
    }
    case TNavIcon::ExtendRight:
    case TNavIcon::ExtendDown: {
      if (kind == TNavIcon::ExtendDown) {
        p.translate(kSize, 0);
        p.rotate(90);
      }
      p.setPen(QPen(QColor(0x3c, 0x3c, 0x3c), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      for (const qreal x : {4.0, 8.5})
        p.drawPolyline(QPolygonF() << QPointF(x, 4.5) << QPointF(x + 3.5, 8.0) << QPointF(x, 11.5));
      return;
    }
    case TNavIcon::NewSite:
      DrawFolder(p);
      p.setPen(QPen(QColor(0x2e, 0x9d, 0x3a), 2));
      p.drawLine(QPointF(8.0, 6.5), QPointF(8.0, 12.5));
      p.drawLine(QPointF(5.0, 9.5), QPointF(11.0, 9.5));
      return;
  }
}

}  // namespace

QIcon NavIcon(TNavIcon kind) {
  // Sharp on a screen scaled up, too.
  const qreal ratio = qMax<qreal>(1.0, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
  QPixmap pixmap(QSize(kSize, kSize) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  Draw(p, kind);
  p.end();
  return QIcon(pixmap);
}

