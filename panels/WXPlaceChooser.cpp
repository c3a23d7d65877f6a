#include "WXPlaceChooser.h"

#include "ui_WXPlaceChooser.h"

#include "Localized.h"
#include "PanelAccessible.h"
#include "PanelKeys.h"
#include "ServiceRequest.h"

#include <QAction>
#include <QKeyEvent>
#include <QListWidgetItem>
#include <QTimer>

#include <cmath>
#include <utility>

using nimbara::localized;

namespace {

enum ItemRole { NameRole = Qt::UserRole, LatitudeRole, LongitudeRole };

QString textOf(const QVariantMap &map, const QString &key)
{
    const QVariant value = map.value(key);
    return value.typeId() == QMetaType::QString ? value.toString().trimmed() : QString();
}

bool isCoordinate(const QVariant &value, double limit)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && value.typeId() != QMetaType::QString && std::isfinite(number) && std::fabs(number) <= limit;
}

} // namespace

WXPlaceChooser::WXPlaceChooser(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::WXPlaceChooser>())
    , m_searchTimer(new QTimer(this))
    , m_request(new nimbara::ServiceRequest(this))
{
    nimbara::installPanelAccessibility();
    m_ui->setupUi(this);
    setWindowTitle(localized("CHOOSE_PLACE_TITLE"));
    m_ui->searchField->setPlaceholderText(localized("CHOOSE_PLACE_PLACEHOLDER"));
    // No label stands beside the field or the list: a screen reader needs their names given.
    m_ui->searchField->setAccessibleName(localized("CHOOSE_PLACE_PLACEHOLDER"));
    m_ui->results->setAccessibleName(localized("CHOOSE_PLACE_TITLE"));
    if (auto *clear = m_ui->searchField->findChild<QAction *>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(localized("CHOOSE_PLACE_CLEAR"));
    m_ui->status->hide();
    m_searchTimer->setSingleShot(true);
    m_searchTimer->setInterval(kDebounceMilliseconds);
    connect(m_searchTimer, &QTimer::timeout, this, &WXPlaceChooser::search);
    connect(m_request, &nimbara::ServiceRequest::finished, this, &WXPlaceChooser::showPlaces);
    connect(m_ui->searchField, &QLineEdit::textEdited, m_searchTimer, qOverload<>(&QTimer::start));
    connect(m_ui->searchField, &QLineEdit::returnPressed, this, &WXPlaceChooser::pickCurrent);
    connect(m_ui->results, &QListWidget::itemClicked, this, &WXPlaceChooser::pick);
    connect(m_ui->results, &QListWidget::itemActivated, this, &WXPlaceChooser::pick);
    m_ui->searchField->installEventFilter(this);
    m_ui->results->installEventFilter(this);
    new nimbara::PanelKeys(this);
}

WXPlaceChooser::~WXPlaceChooser() = default;

void WXPlaceChooser::showEmpty()
{
    m_searchTimer->stop();
    m_request->abort();
    m_pickWhenFound = false;
    m_ui->searchField->clear();
    m_ui->results->clear();
    m_ui->status->hide();
    show();
    raise();
    activateWindow();
    m_ui->searchField->setFocus();
}

QString WXPlaceChooser::placeLine(const QString &name, const QString &region, const QString &country)
{
    QStringList parts;
    for (const QString &part : {name, region, country}) {
        if (!part.isEmpty() && !parts.contains(part))
            parts.append(part);
    }
    return parts.join(QStringLiteral(", "));
}

void WXPlaceChooser::search()
{
    m_searchTimer->stop();
    m_pickWhenFound = false;
    const QString text = m_ui->searchField->text().trimmed();
    m_ui->results->clear();
    m_ui->status->hide();
    // The service refuses shorter texts; longer ones are cut to what it takes.
    if (text.size() < 2) {
        m_request->abort();
        return;
    }
    // On the event loop: typing goes on meanwhile, and the next search cancels this one.
    m_request->searchPlaces(text.left(100));
}

void WXPlaceChooser::showPlaces(const QVariant &answer)
{
    const QVariantMap envelope = answer.toMap();
    if (envelope.value(QStringLiteral("status")).toString() != QLatin1String("ok")) {
        showStatus(localized("CHOOSE_PLACE_FAILED"));
        return;
    }
    const QVariantList places =
        envelope.value(QStringLiteral("data")).toMap().value(QStringLiteral("places")).toList();
    for (const QVariant &entry : places) {
        if (m_ui->results->count() == kMaxResults)
            break;
        const QVariantMap place = entry.toMap();
        const QString name = textOf(place, QStringLiteral("name"));
        const QVariant latitude = place.value(QStringLiteral("lat"));
        const QVariant longitude = place.value(QStringLiteral("lon"));
        if (name.isEmpty() || !isCoordinate(latitude, 90) || !isCoordinate(longitude, 180))
            continue;
        // A place found by another name than its own says which: "Moscow (Moskva)".
        const QString matched = textOf(place, QStringLiteral("matched"));
        auto *item = new QListWidgetItem(
            placeLine(matched.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, matched),
                      textOf(place, QStringLiteral("region")), textOf(place, QStringLiteral("country"))),
            m_ui->results);
        item->setData(NameRole, name);
        item->setData(LatitudeRole, latitude.toDouble());
        item->setData(LongitudeRole, longitude.toDouble());
    }
    if (m_ui->results->count() == 0)
        showStatus(localized("CHOOSE_PLACE_NONE"));
    if (std::exchange(m_pickWhenFound, false))
        pickCurrent();
}

void WXPlaceChooser::pickCurrent()
{
    // Enter right after typing: the search the pause would have started runs first, and the pick
    // waits for its places.
    if (m_searchTimer->isActive())
        search();
    if (m_request->isRunning()) {
        m_pickWhenFound = true;
        return;
    }
    QListWidgetItem *item = m_ui->results->currentItem();
    if (!item && m_ui->results->count() > 0)
        item = m_ui->results->item(0);
    if (item)
        pick(item);
}

void WXPlaceChooser::pick(QListWidgetItem *item)
{
    if (!item)
        return;
    const QString name = item->data(NameRole).toString();
    const double latitude = item->data(LatitudeRole).toDouble();
    const double longitude = item->data(LongitudeRole).toDouble();
    hide();
    emit placeChosen(name, latitude, longitude);
}

bool WXPlaceChooser::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    QListWidget *results = m_ui->results;
    if (watched == m_ui->searchField && key == Qt::Key_Down && results->count() > 0) {
        if (results->currentRow() < 0)
            results->setCurrentRow(0);
        results->setFocus(Qt::TabFocusReason);
        return true;
    }
    if (watched == results && key == Qt::Key_Up && results->currentRow() <= 0) {
        m_ui->searchField->setFocus(Qt::BacktabFocusReason);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void WXPlaceChooser::showStatus(const QString &text)
{
    m_ui->status->setText(text);
    m_ui->status->show();
}
