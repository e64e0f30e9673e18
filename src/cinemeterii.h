#pragma once

#include "colorimeter.h"

class QNetworkAccessManager;
class QNetworkReply;

// The light-meter app on a phone, read over HTTP: one reading is one GET of
// "http://<address>", whose plain-text body holds "name value [unit]" lines.
// The luminance is multiplied by the factor of the selected neutral-density
// filter. Filter and matrix lists are fixed and loaded 5 s after construction.
class CineMeterII : public Colorimeter
{
    Q_OBJECT

public:
    explicit CineMeterII(QObject* parent = nullptr);

    void setFilter(int number) override;
    double filterFactor() const { return filterFactor_; }

public Q_SLOTS:
    void read() override;
    void gotReply(QNetworkReply* reply);

protected:
    virtual void loadFilterAndMatrixLists_();

private:
    // A reply that is no reading: the error stays until a good one.
    void refuse_(const QString& error);

    QNetworkAccessManager* network = nullptr;
    double filterFactor_ = 1.0;
};
