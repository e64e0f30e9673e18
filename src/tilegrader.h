#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>

#include <opencv2/core.hpp>

// Finds the lit wall in a photo, rectifies it and measures its colour per
// section. The analysis runs on the grab worker's thread; the GUI thread
// changes the settings between grabs, and they are read under a lock and
// held fixed for the length of one analysis.
class TileGrader : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool hasScreenContour READ hasScreenContour NOTIFY hasScreenContourChanged)
    Q_PROPERTY(bool reuseScreenContour READ reuseScreenContour WRITE setReuseScreenContour NOTIFY
                   reuseScreenContourChanged)
    Q_PROPERTY(bool hasMeshLocations READ hasMeshLocations NOTIFY hasMeshLocationsChanged)

public:
    using Contour = std::vector<cv::Point>;

    explicit TileGrader(QObject* parent = nullptr);
    ~TileGrader() override;

    bool hasScreenContour() const;
    bool reuseScreenContour() const;
    bool hasMeshLocations() const;

    // Decodes `image` (and `dark`, when not empty), subtracts the dark frame,
    // compensates the lens, finds the wall and rectifies it into the screen
    // image. False after a log line when any of it fails.
    bool loadOriginal(QString image, QString dark);
    // Mean green of the centre tenth of a 16-bit image (0 below 10 x 10).
    int exposureMeter(cv::Mat3w image, QString label);
    // The per-section averages of the current screen image, rebuilt when
    // stale. The list and its images belong to this object and stay valid
    // until the next photo or section change.
    QList<cv::Mat*>* sectionAverages();
    // Averages of `screen` per section and subsection; the caller owns the images.
    QList<cv::Mat*> sectionAvgList(cv::Mat screen, cv::Size sections, cv::Size subsections);

    std::optional<Contour> findLargestContour(cv::Mat image);
    cv::Mat extractContour(cv::Mat image, const Contour& contour);
    // Centres of the lit modules of `image`, arranged in rows (CV_32FC2).
    // Draws its preview into `image`.
    std::optional<cv::Mat> findMeshLocations(cv::Mat image);

    // Results of the latest analysis (shallow copies).
    cv::Mat screenImage() const;
    std::optional<Contour> screenContour() const;
    std::optional<cv::Mat> meshLocations() const;
    // Stores the module grid (absent clears it) and announces the change.
    void setMeshLocations(std::optional<cv::Mat> locations);

    cv::Size sections() const;
    cv::Size subsections() const;
    float aspectRatio() const;
    // Stores the screen's expected width-to-height ratio without announcing it.
    void storeAspectRatio(float aspectRatio);
    bool profiling() const;
    QString lensFile() const;
    bool usesLogImages() const;
    bool isRaw() const;
    unsigned linearGainBoost() const;
    void setLinearGainBoost(unsigned boost);
    unsigned rawInterpolation() const;
    unsigned highlightRecovery() const;
    float gammaTweakValue() const;
    float gainTweakValue() const;

Q_SIGNALS:
    void hasScreenContourChanged();
    void reuseScreenContourChanged();
    void hasMeshLocationsChanged();
    void sectionsUpdated();
    void subsectionsUpdated();
    void aspectRatioUpdated();
    void contouredImageUpdated(QImage newContouredImage);
    void screenImageUpdated(QImage newScreenImage);
    void locationsImageUpdated(QImage locationsImage);
    void sampledImageUpdated(QImage sampledImage);
    void imageProcessed(bool successful);
    void averagesUpdated(cv::Mat averagesArray);

public Q_SLOTS:
    void setReuseScreenContour(bool reuseScreenContour);
    void setSections(int width, int height);
    void setSectionsW(int sections);
    void setSectionsH(int sections);
    void setSubsections(int width, int height);
    void setAspectRatio(float aspectRatio);
    void setProfiling(bool profiling);
    void setLensFile(QString newLensFile);
    void sLog3To16bitLinear(cv::Mat src, cv::Mat3w dest);
    void linearTo8BitGamma(cv::Mat3w src, cv::Mat dest);
    void gammaTweak(cv::Mat3w src, float gamma);
    void gainTweak(cv::Mat3w src, float gain);
    void useLogImages(bool useLog);
    QImage makeImage(cv::Mat mat);
    void useRawImages(bool useRaw);
    void setRawInterpolation(uint interpolation);
    void setHighlightRecovery(uint highlights);
    void setGammaTweak(float gamma);
    void setGainTweak(float gain);

private:
    // Settings that the GUI thread may write; an analysis works on a copy.
    struct Settings
    {
        bool reuseScreenContour = false;
        cv::Size sections{0, 0};
        cv::Size subsections{0, 0};
        float aspectRatio = 2.0f;
        bool profiling = false;
        QString lensFile;
        bool useLogImages = false;
        unsigned linearGainBoost = 1;
        unsigned rawInterpolation = 0;
        unsigned highlightRecovery = 0;
        float gammaTweak = 1.0f;
        float gainTweak = 1.0f;
    };
    Settings settings_() const;
    // Stores a setting (or another field) under mutex_.
    template <typename T>
    void store_(T& field, std::type_identity_t<T> value)
    {
        QMutexLocker lock(&mutex_);
        field = std::move(value);
    }
    void compensateLens_(const QString& lensFile);
    // The 8-bit preview of `image` with `contour` drawn on it.
    QImage contourImage_(const cv::Mat& image, const Contour& contour);
    void linearTo8BitGamma_(const cv::Mat3w& src, cv::Mat& dest, unsigned boost, bool profiling);
    void clearAverages_();

    mutable QMutex mutex_;
    Settings settings;

    cv::Mat photo;
    cv::Mat dark;
    cv::Mat3w raw;
    cv::Mat3w darkRaw;
    std::optional<Contour> screenContour_;
    cv::Mat screenImage_;
    std::optional<cv::Mat> meshLocations_;
    QList<cv::Mat*> averages;
    bool averagesStale = false;
    QElapsedTimer timer;
    bool isRaw_ = false;
};

Q_DECLARE_METATYPE(cv::Mat)
