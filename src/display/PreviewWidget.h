#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// The preview area of the main window. It paints the last picture handed to it, stretched to
// its whole area (the window sizes the area to the video, so the picture keeps its aspect).
// While a hint is set (why there is no picture), the hint is shown instead of the picture, or
// over the last picture, dimmed, when the hint asks for it (a camera that was unplugged).
// GUI thread only; workers hand pictures over through queued calls to setImage().
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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    QString m_hint;
    bool m_hintOverPicture = false;
    QSize m_preferredSize{640, 480};
};
