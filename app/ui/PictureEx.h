#pragma once
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

/// The animated busy indicator of the maintenance dialogs: shows a picture, and plays an
/// animated GIF frame by frame with each frame's own delay and disposal method.
///
/// Threads: loading, StartShow, StopAnimation, ReleasePicture and painting run on the
/// user-interface thread. An animated GIF is played by an animation thread of this object
/// that draws into the memory image (under m_imageMutex) and asks for a repaint through a
/// queued call; it waits between frames on a stop condition, so StopAnimation ends it within
/// one wait. The frames are split by our own bounds-checked GIF block walk and decoded one by
/// one by QImage. The object owns its frames, images and thread; destroying it stops the thread.
class CPictureEx : public QWidget
{
    Q_OBJECT
public:
    /// Resource number and type of the busy indicator (8 frames of 16 x 16, 10/100 s, looping).
    static constexpr int kBusyResourceId = 166;
    static constexpr const char* kBusyResourceType = "GIF";
    /// The longest wait for the animation thread to end.
    static constexpr int kStopTimeoutMs = 5000;
    /// Wait used for delays of 4/100 s and less and for frames without a delay.
    static constexpr int kDefaultFrameMs = 100;

    explicit CPictureEx(QWidget* pParent = nullptr);
    ~CPictureEx() override;

    /// Loads a picture of the program's resources by number and type (166, "GIF"). False when
    /// the resource is unknown or cannot be decoded; anything loaded before is released first.
    bool LoadFromResource(int nResourceId, const char* pszType);
    /// Loads a picture from memory: a GIF with several images becomes an animation, anything
    /// else (one GIF image, JPEG, PNG ...) a still picture. False when nothing can be decoded.
    bool LoadFromData(const QByteArray& data);
    /// Shows the loaded picture; starts the animation thread for an animated GIF. False when
    /// nothing is loaded or the thread could not be started.
    bool StartShow();
    /// Ends the animation thread (waits at most kStopTimeoutMs) and keeps the current image.
    void StopAnimation();
    /// Stops and drops everything loaded.
    void ReleasePicture();

    /// Part of the picture painted (empty: all of it from the top-left corner).
    void SetPaintRect(const QRect& rect) { m_rectPaint = rect; }

    bool IsLoaded() const { return m_bLoaded; }
    bool IsGif() const { return m_bIsGif; }
    bool IsPlaying() const { return m_bPlaying.load(); }
    int FrameCount() const { return static_cast<int>(m_vecFrames.size()); }
    /// Index of the frame shown last (any thread).
    int CurrentFrame() const { return m_nCurrentFrame.load(); }
    /// Number of frames drawn since the last StartShow (any thread; for tests and diagnostics).
    int FramesDrawn() const { return m_nFramesDrawn.load(); }
    QSize PictureSize() const { return m_sizePicture; }
    /// A copy of the memory image.
    QImage CurrentImage() const;
    QColor BackgroundColor() const { return m_colorBackground; }

    QSize sizeHint() const override { return m_sizePicture.isEmpty() ? QSize(16, 16) : m_sizePicture; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    struct SFrame
    {
        QImage image;
        QPoint ptOffset;
        QSize size;
        int nDelayCs = -1;  // -1: no graphic control extension
        int nDisposal = 0;
    };

    void Prepare();
    void RenderStill();
    void AnimationThread();
    void DrawFrame(const SFrame& frame);
    void RequestRepaint();
    bool WaitForStop(int nMs);

    QSize m_sizePicture;
    QRect m_rectPaint;
    QColor m_colorBackground;
    std::vector<SFrame> m_vecFrames;  // an animated GIF
    QImage m_imageStill;              // a picture with one image
    bool m_bIsGif = false;
    bool m_bLoaded = false;

    mutable std::mutex m_imageMutex;  // guards m_imageMemory and m_imageSaved
    QImage m_imageMemory;
    QImage m_imageSaved;

    std::thread m_thread;
    std::mutex m_stopMutex;
    std::condition_variable m_cvStop;
    bool m_bStopRequested = false;  // under m_stopMutex
    bool m_bThreadDone = true;      // under m_stopMutex
    std::atomic<bool> m_bPlaying{false};
    std::atomic<int> m_nCurrentFrame{0};
    std::atomic<int> m_nFramesDrawn{0};
};
