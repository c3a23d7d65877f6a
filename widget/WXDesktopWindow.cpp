#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "Animator.h"
#include "Compositing.h"
#include "Localized.h"
#include "MoveResizeHandler.h"
#include "Relauncher.h"
#include "SettingsStore.h"
#include "ShapeMask.h"
#include "TrackingArea.h"
#include "WXWeather.h"
#include "WindowLevel.h"

#include <QPainter>
#include <QResizeEvent>
#include <QTimer>

using namespace nimbara;

WXDesktopWindow::WXDesktopWindow(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::WXDesktopWindow>())
    , clockTimer(new QTimer(this))
    , startRelaunch(&Relauncher::relaunchThisProcess)
    , terminate(&QCoreApplication::quit)
    , checkTimer(new QTimer(this))
    , isConnected(&WXWeather::isConnected)
    , m_compositing(new CompositingMonitor(this))
    , m_moveResize(new MoveResizeHandler(this))
{
    // Construction: the fixed state is set by the member initializers; the window is not opaque,
    // its background is clear (this must precede the native window, whose visual it chooses: one
    // with alpha, whether or not a compositing manager runs now, so that the look can follow one
    // that starts or stops later), and it sits one level below the desktop icons.
    setAttribute(Qt::WA_TranslucentBackground, true);
    setAutoFillBackground(false);
    // Closing the widget takes it off screen; only Quit ends the application.
    setAttribute(Qt::WA_QuitOnClose, false);
    setLevel(desktopIconWindowLevel() - 1);

    installAccessibility();
    // The interface definition: outlets, then the actions.
    ui->setupUi(this);
    m_interfaceFrameSize = size();
    m_userFrame = QRectF(geometry());
    m_interfaceGeometry.append({ui->mainView, ui->mainView->geometry()});
    const auto elements = ui->mainView->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *element : elements)
        m_interfaceGeometry.append({element, element->geometry()});
    connectActions();
    installWeatherLineToolTip();
    // Every size the user's resize proposes passes by the widget before the window takes it.
    m_moveResize->setResizeFilter([this](const QSizeF &size) { return windowWillResize(this, size); });
    connect(m_moveResize, &MoveResizeHandler::frameSetByUser, this,
            [this](const QRect &frame) { m_userFrame = QRectF(frame); });

    clockTimer->setSingleShot(true);
    clockTimer->setInterval(1000);
    connect(clockTimer, &QTimer::timeout, this, &WXDesktopWindow::getDate);
    checkTimer->setSingleShot(true);
    checkTimer->setTimerType(Qt::PreciseTimer);
    connect(checkTimer, &QTimer::timeout, this, &WXDesktopWindow::checkTick);

    setTranslucent(m_compositing->isTranslucent());
    connect(m_compositing, &CompositingMonitor::translucencyChanged, this, &WXDesktopWindow::setTranslucent);

    // The backing box joins the window here, which installs its hover region.
    viewWillMoveToWindow(this);
}

WXDesktopWindow::~WXDesktopWindow() = default;

void WXDesktopWindow::connectActions()
{
    // A setting button first flips its key in the settings store; its action only reads the store.
    const auto connectSetting = [this](QAbstractButton *button, const QString &key,
                                       void (WXDesktopWindow::*action)(QObject *)) {
        connect(button, &QAbstractButton::clicked, this, [this, button, key, action] {
            SettingsStore::toggleBool(key);
            (this->*action)(button);
        });
    };
    connectSetting(ui->reloadButton, key::celsius, &WXDesktopWindow::didPressReloadButton);
    connectSetting(ui->colorButton, key::whiteColor, &WXDesktopWindow::didPressColorButton);
    connectSetting(ui->dateButton, key::dateEnabled, &WXDesktopWindow::didPressDateButton);
    connectSetting(ui->locationButton, key::locationEnabled, &WXDesktopWindow::didPressLocationButton);
    connectSetting(ui->alignButton, key::textAlign, &WXDesktopWindow::didPressAlignButton);
    connect(ui->lockButton, &QAbstractButton::clicked, this, [this] { didPressLockButton(ui->lockButton); });
}

void WXDesktopWindow::awakeFromNib()
{
    ui->lockButton->setText(localized("LOCK_BUTTON"));
    ui->reloadButton->setText(localized("UNITS_BUTTON"));
    ui->dateButton->setText(localized("DATE_BUTTON"));
    ui->locationButton->setText(localized("LOCATION_BUTTON"));
    ui->alignButton->setText(localized("ALIGN_BUTTON"));
    ui->colorButton->setText(localized("COLOR_BUTTON"));
    ui->title->setText(localized("UPDATING_WEATHER"));
    ui->subtitle->setText(localized("PLEASE_WAIT"));
    // What a screen reader says of the window and of the activity bar beside the lines.
    setAccessibleName(localized("WIDGET_ACCESSIBLE_NAME"));
    ui->progressIndicator->setAccessibleName(localized("UPDATING_ACCESSIBLE_NAME"));
    toggleSettings();
    locationManager = makeLocationManager();
    ui->box->setCornerRadius(6.0);
    Animator::setOpacity(ui->box, 0.0);
    ui->box->setBorderColor(Qt::transparent);
    Animator::setOpacity(ui->buttons, 0.0);
    keepStripFromPointerWhileLocked();
    offerControlsWhileUnlocked();
    getDate();
    updateLocation();
    start();
    aspectRatio = QSizeF(size());
    m_moveResize->setAspectRatio(aspectRatio);
    observeWakeNotes();
}

void WXDesktopWindow::setLevel(int level)
{
    m_level = level;
    applyWindowLevel(this, level);
}

QRectF WXDesktopWindow::frame() const
{
    return QRectF(geometry());
}

void WXDesktopWindow::setFrame(const QRectF &frame, bool display)
{
    m_userFrame = frame;
    setGeometry(frame.toRect());
    // A hidden window gets its resize event only when shown; the elements follow the frame now.
    layoutOutlets();
    if (display)
        update();
}

void WXDesktopWindow::layoutOutlets()
{
    // The elements keep their place and size relative to the window, as in the interface definition.
    const qreal sx = qreal(width()) / m_interfaceFrameSize.width();
    const qreal sy = qreal(height()) / m_interfaceFrameSize.height();
    for (const auto &[element, designed] : std::as_const(m_interfaceGeometry)) {
        const QRectF scaled(designed.x() * sx, designed.y() * sy, designed.width() * sx,
                            designed.height() * sy);
        element->setGeometry(scaled.toRect());
    }
}

void WXDesktopWindow::resizeEvent(QResizeEvent * /*event*/)
{
    layoutOutlets();
    // The lines have their new heights now, so the texts match them at the end of every resize.
    resizeAllTexts();
    // The box follows the window; so does its hover region, or part of the box would not show the
    // lock button after a resize.
    if (m_hoverRegion)
        m_hoverRegion->setRect(ui->box->rect());
}

void WXDesktopWindow::setTranslucent(bool translucent)
{
    m_translucent = translucent;
    for (TextLine *line : {ui->date, ui->title, ui->subtitle})
        line->setOutlined(!translucent);
    if (translucent) {
        delete m_shapeMask;
        m_shapeMask = nullptr;
        clearMask();
    } else if (!m_shapeMask) {
        m_shapeMask = new ShapeMask(this);
    }
    update();
}

void WXDesktopWindow::paintEvent(QPaintEvent *)
{
    // Without translucency the window is shaped to its text; what lies inside the shape around the
    // glyphs is the outline's colour, so that anti-aliased edges blend into the outline.
    if (m_translucent)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), ui->title->outlineColor());
}
