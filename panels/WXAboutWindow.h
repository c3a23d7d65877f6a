#pragma once

#include <QWidget>

#include <memory>

class QCloseEvent;

namespace Ui {
class WXAboutWindow;
}

// The About panel: the version line, the data attribution and links to the product website and to
// the weather-data provider. Closing it only hides it.
class WXAboutWindow : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WXAboutWindow)

public:
    explicit WXAboutWindow(QWidget *parent = nullptr);
    ~WXAboutWindow() override;

    // The address each link button opens.
    static QUrl appWebsite();
    static QUrl forecastWebsite();

    // Takes the panel off screen and refuses the close, so that it can be shown again unchanged.
    bool windowShouldClose(QObject *sender);

public slots:
    void didPressAppWebsiteButton(QObject *sender);
    void didPressForecastWebsiteButton(QObject *sender);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void awakeFromNib();

    const std::unique_ptr<Ui::WXAboutWindow> m_ui;
};
