#include "PictureEx.h"

#include <QFile>
#include <QPainter>
#include <QPalette>
#include <chrono>
#include <cstring>

#include "GifWalk.h"
#include "Trace.h"

namespace
{
struct SResource
{
    int nId;
    const char* pszType;
    const char* pszPath;
};
// The program's picture resources by number and type.
constexpr SResource kResources[] = {
    {CPictureEx::kBusyResourceId, CPictureEx::kBusyResourceType, ":/img/busy.gif"},
};

QImage DecodeImage(const QByteArray& data)
{
    QImage image;
    image.loadFromData(data);
    return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
} // namespace

CPictureEx::CPictureEx(QWidget* pParent) : QWidget(pParent)
{
}

CPictureEx::~CPictureEx()
{
    StopAnimation();
}

bool CPictureEx::LoadFromResource(int nResourceId, const char* pszType)
{
    for (const SResource& res : kResources)
    {
        if (res.nId == nResourceId && pszType != nullptr && std::strcmp(res.pszType, pszType) == 0)
        {
            QFile file(QString::fromLatin1(res.pszPath));
            if (!file.open(QIODevice::ReadOnly))
                return false;
            return LoadFromData(file.readAll());
        }
    }
    ReleasePicture();
    return false;
}

bool CPictureEx::LoadFromData(const QByteArray& data)
{
    ReleasePicture();
    const auto* pData = reinterpret_cast<const uint8_t*>(data.constData());
    const size_t nSize = static_cast<size_t>(data.size());

    gifwalk::SGifLayout layout;
    const bool bGif = gifwalk::IsGif(pData, nSize);
    if (bGif && !gifwalk::WalkGif(pData, nSize, layout))
        return false;  // a GIF without any complete image
    m_bIsGif = bGif;

    if (!bGif || layout.vecFrames.size() == 1)
    {
        m_imageStill = DecodeImage(data);
        if (m_imageStill.isNull())
            return false;
        m_sizePicture = m_imageStill.size();
    }
    else
    {
        m_sizePicture = QSize(layout.nScreenWidth, layout.nScreenHeight);
        for (size_t i = 0; i < layout.vecFrames.size(); ++i)
        {
            const std::vector<uint8_t> vecFrame = gifwalk::BuildFrameGif(pData, nSize, layout, i);
            const QImage image =
                DecodeImage(QByteArray(reinterpret_cast<const char*>(vecFrame.data()), static_cast<qsizetype>(vecFrame.size())));
            if (image.isNull())
                continue;  // the decoder rejected this frame; the others still play
            const gifwalk::SGifFrame& info = layout.vecFrames[i];
            SFrame frame;
            frame.image = image;
            frame.ptOffset = QPoint(info.nLeft, info.nTop);
            frame.size = QSize(info.nWidth, info.nHeight);
            frame.nDelayCs = info.bHasDelay ? info.nDelayCs : -1;
            frame.nDisposal = info.nDisposal;
            m_vecFrames.push_back(frame);
        }
        if (m_vecFrames.empty())
            return false;
    }
    Prepare();
    return true;
}

void CPictureEx::Prepare()
{
    setFixedSize(m_sizePicture);
    m_colorBackground = palette().color(QPalette::Button);
    {
        std::lock_guard<std::mutex> lock(m_imageMutex);
        m_imageMemory = QImage(m_sizePicture, QImage::Format_ARGB32_Premultiplied);
        m_imageMemory.fill(palette().color(QPalette::Window));
    }
    m_bLoaded = true;
}

bool CPictureEx::StartShow()
{
    if (!m_bLoaded)
        return false;
    if (m_vecFrames.size() < 2)
    {
        RenderStill();
        return true;
    }
    if (m_thread.joinable())
        return true;  // already playing
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_bStopRequested = false;
        m_bThreadDone = false;
    }
    m_nFramesDrawn = 0;
    m_bPlaying = true;
    try
    {
        m_thread = std::thread(&CPictureEx::AnimationThread, this);
    }
    catch (...)
    {
        m_bPlaying = false;
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_bThreadDone = true;
        return false;
    }
    return true;
}

void CPictureEx::RenderStill()
{
    {
        std::lock_guard<std::mutex> lock(m_imageMutex);
        QPainter painter(&m_imageMemory);
        if (!m_imageStill.isNull())
            painter.drawImage(QRect(QPoint(0, 0), m_sizePicture), m_imageStill);
        else if (!m_vecFrames.empty())
            painter.drawImage(m_vecFrames.front().ptOffset, m_vecFrames.front().image);
    }
    update();
}

bool CPictureEx::WaitForStop(int nMs)
{
    std::unique_lock<std::mutex> lock(m_stopMutex);
    return m_cvStop.wait_for(lock, std::chrono::milliseconds(nMs), [this] { return m_bStopRequested; });
}

void CPictureEx::DrawFrame(const SFrame& frame)
{
    std::lock_guard<std::mutex> lock(m_imageMutex);
    QPainter painter(&m_imageMemory);
    // The decoder may return the frame alone or placed on a logical screen of its own, with
    // the area outside the frame filled; only the frame's own area is drawn then.
    const QRect rectFrame(frame.ptOffset, frame.size);
    if (frame.image.size() == m_sizePicture && frame.size != m_sizePicture)
        painter.drawImage(rectFrame, frame.image, rectFrame);
    else
        painter.drawImage(rectFrame, frame.image);
}

void CPictureEx::RequestRepaint()
{
    // Queued to the widget's thread; dropped by Qt when the widget is gone.
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

void CPictureEx::AnimationThread()
{
    try
    {
        size_t nFrame = 0;
        for (;;)
        {
            const SFrame& frame = m_vecFrames[nFrame];
            const QRect rectFrame(frame.ptOffset, frame.size);
            if (frame.nDisposal == 3)
            {
                std::lock_guard<std::mutex> lock(m_imageMutex);
                m_imageSaved = m_imageMemory.copy(rectFrame);
            }
            DrawFrame(frame);
            m_nCurrentFrame = static_cast<int>(nFrame);
            ++m_nFramesDrawn;
            RequestRepaint();

            const int nWaitMs = frame.nDelayCs > 4 ? frame.nDelayCs * 10 : kDefaultFrameMs;
            if (WaitForStop(nWaitMs))
                break;

            {
                std::lock_guard<std::mutex> lock(m_imageMutex);
                QPainter painter(&m_imageMemory);
                if (frame.nDisposal == 2)
                {
                    painter.setCompositionMode(QPainter::CompositionMode_Source);
                    painter.fillRect(rectFrame, m_colorBackground);
                }
                else if (frame.nDisposal == 3 && !m_imageSaved.isNull())
                {
                    painter.setCompositionMode(QPainter::CompositionMode_Source);
                    painter.drawImage(rectFrame.topLeft(), m_imageSaved);
                }
            }
            if (++nFrame >= m_vecFrames.size())
            {
                nFrame = 0;
                std::lock_guard<std::mutex> lock(m_imageMutex);
                m_imageMemory.fill(m_colorBackground);
            }
        }
    }
    catch (...)
    {
        TC_TRACE("CPictureEx", trace::LEVEL_ERROR, "animation thread ended by an exception", 0);
    }
    m_bPlaying = false;
    std::lock_guard<std::mutex> lock(m_stopMutex);
    m_bThreadDone = true;
    m_cvStop.notify_all();
}

void CPictureEx::StopAnimation()
{
    m_bPlaying = false;
    if (!m_thread.joinable())
        return;
    bool bDone;
    {
        std::unique_lock<std::mutex> lock(m_stopMutex);
        m_bStopRequested = true;
        m_cvStop.notify_all();
        bDone = m_cvStop.wait_for(lock, std::chrono::milliseconds(kStopTimeoutMs), [this] { return m_bThreadDone; });
    }
    if (!bDone)
        TC_TRACE("CPictureEx", trace::LEVEL_ERROR, "animation thread did not end in time", kStopTimeoutMs);
    // The thread only draws and waits on the stop condition, so it has ended or is about to.
    m_thread.join();
    std::lock_guard<std::mutex> lock(m_stopMutex);
    m_bStopRequested = false;
}

void CPictureEx::ReleasePicture()
{
    StopAnimation();
    m_vecFrames.clear();
    m_imageStill = QImage();
    m_bLoaded = false;
    m_bIsGif = false;
    m_sizePicture = QSize();
    m_nCurrentFrame = 0;
    std::lock_guard<std::mutex> lock(m_imageMutex);
    m_imageMemory = QImage();
    m_imageSaved = QImage();
}

QImage CPictureEx::CurrentImage() const
{
    std::lock_guard<std::mutex> lock(m_imageMutex);
    return m_imageMemory.copy();
}

void CPictureEx::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    std::lock_guard<std::mutex> lock(m_imageMutex);
    if (m_imageMemory.isNull())
        return;
    if (!m_rectPaint.isEmpty())
        painter.drawImage(m_rectPaint.topLeft(), m_imageMemory, m_rectPaint);
    else
        painter.drawImage(QPoint(0, 0), m_imageMemory);
}
