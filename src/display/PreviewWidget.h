#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// The preview area of the main window. It paints the last picture handed to it as large as the
// area allows at the picture's aspect ratio, centred, with dark bars where the area's shape
// differs (a resized or maximised window). The picture is drawn in device pixels: one picture
// pixel to a whole number of screen pixels stays sharp (scale 1 and 2 at the video's size);
// any other ratio (scale 1.5, a resized window) is scaled smoothly.
// While a hint is set (why there is no picture), the hint is shown instead of the picture, or
// over the last picture, dimmed, when the hint asks for it (a camera that was unplugged).
// GUI thread only; workers hand pictures over through queued calls to setImage(). A worker that
// makes pictures at the area's size (pictureArea(), pictureAreaChanged) saves the paint from
// scaling them.
class PreviewWidget : public QWidget {
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return m_image; }
    // Empty: the picture is shown. overPicture: the last picture stays visible behind the hint.
    void setHint(const QString& hint, bool overPicture = false);
    const QString& hint() const { return m_hint; }

    QSize sizeHint() const override { return m_preferredSize; }
    void setPreferredSize(const QSize& size);

    // Where a picture of pictureSize lands in an area of areaSize, both in device pixels:
    // scaled to fit at its aspect ratio and centred on whole pixels.
    static QRect PictureRect(const QSize& pictureSize, const QSize& areaSize);

    // The area pictures are drawn into, in device pixels; empty while the widget is hidden.
    QSize pictureArea() const;

signals:
    // The picture area changed (a resize, a move to a screen of another scale, shown or
    // hidden): pictures made for the old area should be made again.
    void pictureAreaChanged(QSize area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Draws the picture fitted into the area and fills the bars beside it.
    void DrawPicture(QPainter& painter);
    void PublishArea();

private:
    QImage m_image;
    QString m_hint;
    bool m_hintOverPicture = false;
    QSize m_preferredSize{640, 480};
    QSize m_publishedArea;
};
