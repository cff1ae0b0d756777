#include "panel/widgets/qt_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QChildEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImageReader>
#include <QPixmapCache>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace corvane {

namespace {
// Rounds num / den to the nearest integer, halves away from zero (den > 0).
int RoundDiv(int num, int den)
{
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

QString FirstInstalled(std::initializer_list<const char*> families)
{
    const QStringList installed = QFontDatabase::families();
    for (const char* f : families)
        if (installed.contains(QString::fromLatin1(f), Qt::CaseInsensitive))
            return QString::fromLatin1(f);
    return QString::fromLatin1(*families.begin());
}
}  // namespace

int DuX(int x) { return RoundDiv(x * 7, 4); }
int DuY(int y) { return y * 2; }

QRect DuRect(int x, int y, int w, int h)
{
    return QRect(DuX(x), DuY(y), DuX(w), DuY(h));
}

namespace {
// Qt's pixmap cache key for a file QPixmap loads by name: "qt_pixmap", the absolute path, then
// the modification time, the size and the pixmap type, each as its bytes in hexadecimal, low
// nibble first.
template <typename T>
QString HexBytes(T value)
{
    QString out;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        const auto byte = static_cast<unsigned>((value >> (8 * i)) & 0xFF);
        out += QLatin1Char("0123456789abcdef"[byte & 0xF]);
        out += QLatin1Char("0123456789abcdef"[byte >> 4]);
    }
    return out;
}

// Fusion draws every group box frame from a picture it loads by name, and Qt then loads each
// image format plugin (GIF, ICO, JPEG and their libraries) to ask whether it reads the file:
// time and memory at start-up for nothing. Read once here with the built-in PNG reader and
// kept under the key Qt looks for, the picture is found in the cache instead. Should the key
// ever differ, Qt simply loads the picture itself.
void CacheStylePixmaps()
{
    const QString path = QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png");
    const QFileInfo info(path);
    if (!info.exists())
        return;
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    if (image.isNull())
        return;
    const QString key = QStringLiteral("qt_pixmap") + info.absoluteFilePath() +
                        HexBytes(static_cast<quint32>(info.lastModified().toSecsSinceEpoch())) +
                        HexBytes(static_cast<quint64>(info.size())) + HexBytes(quint32{0});
    QPixmapCache::insert(key, QPixmap::fromImage(image));
}
}  // namespace

void ApplyPlatformLook(QApplication& app)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);  // the application takes ownership
        app.setPalette(fusion->standardPalette());
        CacheStylePixmaps();
    }
}

QFont DialogFont()
{
    static const QString family = FirstInstalled({"Microsoft YaHei", "WenQuanYi Micro Hei"});
    QFont f(family);
    f.setPointSize(9);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

QFont TitleFont()
{
    static const QString family = FirstInstalled({"Arial", "Liberation Sans"});
    static const int pixelSize = [] {
        // The largest em whose cell (ascent + descent) still fits 16 pixels. The probe is the
        // title font itself (style hint included), so the size found is loaded once, not twice.
        QFont probe(family);
        probe.setWeight(QFont::Bold);
        probe.setStyleHint(QFont::SansSerif);
        auto fits = [&probe](int size) {
            probe.setPixelSize(size);
            const QFontMetrics m(probe);
            return m.ascent() + m.descent() <= 16;
        };
        // The cell grows with the em, so the sizes that fit are those up to the answer: from a
        // first guess (a sans-serif cell is about 1.15 em), up while the next size fits, else
        // down to the first that does; 6 when none from 16 down to 7 does. Each size probed
        // loads the font anew, and the guess is usually right, with two probes instead of three.
        int size = 14;
        if (fits(size)) {
            while (size < 16 && fits(size + 1))
                ++size;
        } else {
            do
                --size;
            while (size > 6 && !fits(size));
        }
        return size;
    }();
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setWeight(QFont::Bold);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

QColor ButtonFaceColor() { return QApplication::palette().color(QPalette::Button); }
QColor ButtonHighlightColor() { return QApplication::palette().color(QPalette::Light); }
QColor Light3dColor() { return QApplication::palette().color(QPalette::Midlight); }
QColor ButtonShadowColor() { return QApplication::palette().color(QPalette::Dark); }
QColor DarkShadow3dColor() { return QApplication::palette().color(QPalette::Shadow); }

void FillHLine(QPainter& p, int x0, int x1, int y, const QColor& c)
{
    if (x1 < x0)
        std::swap(x0, x1);
    p.fillRect(QRect(x0, y, x1 - x0 + 1, 1), c);
}

void FillVLine(QPainter& p, int x, int y0, int y1, const QColor& c)
{
    if (y1 < y0)
        std::swap(y0, y1);
    // Qt blends a translucent fill of 96 rows or more on worker threads it starts for the
    // purpose (two threads at start-up for the window's outline alone): a line is filled in
    // strips of 64 rows here instead, on this thread, with the same pixels.
    constexpr int kStripRows = 64;
    for (int y = y0; y <= y1; y += kStripRows)
        p.fillRect(QRect(x, y, 1, std::min(kStripRows, y1 - y + 1)), c);
}

void OutlineRect(QPainter& p, int x, int y, int w, int h, const QColor& c)
{
    // Four strips that do not overlap, so a translucent colour blends once at the corners too.
    FillHLine(p, x, x + w, y, c);
    if (h > 0)
        FillHLine(p, x, x + w, y + h, c);
    if (h > 1) {
        FillVLine(p, x, y + 1, y + h - 1, c);
        if (w > 0)
            FillVLine(p, x + w, y + 1, y + h - 1, c);
    }
}

bool CKeyFilter::IsFilteredKey(int key, Qt::KeyboardModifiers modifiers)
{
    // Alt combinations are system keys and take their ordinary route; Alt+Space is handled on
    // its own.
    if (modifiers & Qt::AltModifier)
        return false;
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape || key == Qt::Key_Space;
}

bool CKeyFilter::IsSystemMenuKey(int key, Qt::KeyboardModifiers modifiers)
{
    // Desktops keep Alt+Space for their own window menu; the Menu key and Shift+F10, the
    // context-menu keys, are left to the window.
    const Qt::KeyboardModifiers m = modifiers & ~Qt::KeypadModifier;
    return (key == Qt::Key_Space && (m & Qt::AltModifier)) || (key == Qt::Key_Menu && m == Qt::NoModifier) ||
           (key == Qt::Key_F10 && m == Qt::ShiftModifier);
}

bool CKeyFilter::IsPressKey(int key, Qt::KeyboardModifiers modifiers)
{
    return (key == Qt::Key_Return || key == Qt::Key_Enter) && (modifiers & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

void CKeyFilter::InstallOn(QWidget* w)
{
    w->removeEventFilter(this);  // never twice on one object
    w->installEventFilter(this);
    for (QObject* child : w->children()) {
        // Windows of their own (dialogs, popups) decide for themselves: the busy indicator, a
        // child of the main window, takes Escape and Enter.
        auto* cw = qobject_cast<QWidget*>(child);
        if (cw && !cw->isWindow())
            InstallOn(cw);
    }
}

bool CKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (m_commands && !key->isAutoRepeat() && m_commands(key->key(), key->modifiers()))
            return true;
        if (IsSystemMenuKey(key->key(), key->modifiers())) {
            // The menu opens instead of the focused control taking the Space.
            if (m_systemMenu && !key->isAutoRepeat())
                m_systemMenu();
            return true;
        }
        if (IsPressKey(key->key(), key->modifiers())) {
            // Only the focused control, once per press (never by a held key), and after the
            // key's own handling, as a click by the mouse.
            auto* button = qobject_cast<QAbstractButton*>(watched);
            if (button && button->window()->focusWidget() == button && !key->isAutoRepeat())
                QTimer::singleShot(0, button, [b = QPointer<QAbstractButton>(button)] {
                    if (b && b->isEnabled())
                        b->click();
                });
            return true;
        }
        if (IsFilteredKey(key->key(), key->modifiers()))
            return true;
        break;
    }
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsSystemMenuKey(key->key(), key->modifiers()))
            return true;
        break;
    }
    case QEvent::ShortcutOverride: {
        // Nothing may claim the filtered keys as a shortcut either.
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsFilteredKey(key->key(), key->modifiers()) || IsSystemMenuKey(key->key(), key->modifiers())) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::ChildAdded: {
        // Controls created later (pages built on first use) are filtered as well.
        auto* added = static_cast<QChildEvent*>(event)->child();
        if (added && added->isWidgetType() && watched->isWidgetType() && !static_cast<QWidget*>(added)->isWindow())
            InstallOn(static_cast<QWidget*>(added));
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

CKeyFilter* InstallKeyFilter(QWidget* window, std::function<void()> systemMenu)
{
    auto* filter = new CKeyFilter(window, std::move(systemMenu));  // owned by the window
    filter->InstallOn(window);
    return filter;
}

namespace {
std::function<bool(QWidget*)>& DragHandler()
{
    static std::function<bool(QWidget*)> handler;
    return handler;
}
}  // namespace

void SetWindowDragHandler(std::function<bool(QWidget*)> handler) { DragHandler() = std::move(handler); }

bool StartWindowDrag(QWidget* w)
{
    if (!w)
        return false;
    if (DragHandler())
        return DragHandler()(w);
    QWidget* top = w->window();
    QWindow* handle = top->windowHandle();
    return handle && handle->startSystemMove();
}

}  // namespace corvane
