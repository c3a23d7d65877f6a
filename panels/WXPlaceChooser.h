#pragma once

#include <QWidget>

#include <memory>

class QListWidgetItem;
class QTimer;

namespace nimbara {
class ServiceRequest;
}

namespace Ui {
class WXPlaceChooser;
}

// The "Choose a place…" panel of the Location menu: a search field whose text the weather service
// looks up as the user types (after a short pause), and up to ten places, each "Name, Region,
// Country" in the user's language. Enter or a click picks one. Closing it only hides it.
class WXPlaceChooser : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WXPlaceChooser)

public:
    static constexpr int kDebounceMilliseconds = 300;
    static constexpr int kMaxResults = 10;

    explicit WXPlaceChooser(QWidget *parent = nullptr);
    ~WXPlaceChooser() override;

    // Shown empty, with the search field focused.
    void showEmpty();

    // The pending search after typing; tests fire it instead of waiting.
    QTimer *searchTimer() const { return m_searchTimer; }
    // The line of one place as the list shows it: the parts that are not empty, joined by ", ".
    static QString placeLine(const QString &name, const QString &region, const QString &country);

signals:
    // name: the place's own name in the user's language, for the menu.
    void placeChosen(const QString &name, double latitude, double longitude);

public slots:
    // Asks the service for the places whose names begin with the search field's text; they show
    // when the answer comes, and a search still in flight is cancelled.
    void search();
    // Picks the list's current place, or the first when none is current.
    void pickCurrent();

protected:
    // Down in the search field moves into the places, Up on the first place back to the field.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showPlaces(const QVariant &answer);
    void pick(QListWidgetItem *item);
    void showStatus(const QString &text);

    const std::unique_ptr<Ui::WXPlaceChooser> m_ui;
    QTimer *const m_searchTimer;
    nimbara::ServiceRequest *const m_request;
    // Enter came while the search ran: the first place found is picked.
    bool m_pickWhenFound = false;
};
