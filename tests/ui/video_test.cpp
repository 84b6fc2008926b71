// A movie with a video stream in the window: film icon, first frame as the
// thumbnail, Properties and the first-frame preview with its caption.
#include <gtest/gtest.h>

#include <QLabel>

#include "document/swf_document.h"
#include "preview_test_support.h"
#include "swfbuilder/av_encode.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/dialogs/properties_dlg.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/list_ctrl.h"
#include "ui/preview/picture_static.h"
#include "ui/preview/view_image.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

using namespace swfbuilder;

class VideoWindow : public test::UiTest {
protected:
    KSMainFrame& frame() { return *app_->mainFrame(); }
};

// An H.263 stream whose frames decode, and a VP6 stream whose made-up
// packets do not, after a sound.
std::string videoMovie(const test::TempDir& dir) {
    const auto packets = avEncodeVideo("flv", 48, 32, 3);
    EXPECT_EQ(packets.size(), 3u);
    Tags t;
    t.tag(kTagDefineSound, defineSoundBody(1, 0, 1, false, false, 4, {1, 2, 3, 4}))
        .tag(kTagDefineVideoStream, defineVideoStreamBody(2, 3, 48, 32, 2))
        .tag(kTagDefineVideoStream, defineVideoStreamBody(3, 1, 64, 64, 4));
    for (std::uint16_t i = 0; i < packets.size(); ++i) t.tag(kTagVideoFrame, videoFrameBody(2, i, packets[i]));
    t.tag(kTagVideoFrame, videoFrameBody(3, 0, {0x00, 0x01, 0x02})).showFrame().end();
    return dir.write("clip.swf", SwfFile().frameRate(12 << 8).tags(t).bytes());
}

TEST_F(VideoWindow, IconsThumbnailsPropertiesAndPreview) {
    test::TempDir dir;
    start({QString::fromStdString(videoMovie(dir))});
    SWFDocument* doc = frame().document();
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->count(), 3);
    const auto& decoded = static_cast<const SWFVideo&>(doc->resource(1));
    const auto& undecoded = static_cast<const SWFVideo&>(doc->resource(2));
    ASSERT_EQ(decoded.kind, kKindVideo);
    EXPECT_EQ(decoded.smallIconIndex, 2);
    EXPECT_EQ(undecoded.smallIconIndex, 2);
    ASSERT_TRUE(decoded.thumbnail);  // the first frame, scaled
    EXPECT_EQ(decoded.thumbnail->width(), 48);
    EXPECT_FALSE(undecoded.firstFrame);
    EXPECT_NE(frame().listCtrl()->smallIcon(2), nullptr);

    const auto texts = KSPropertiesDlg::texts(decoded);
    EXPECT_EQ(texts.at(KSPropertiesDlg::kTitle), QStringLiteral("Video #1"));
    EXPECT_EQ(texts.at(KSPropertiesDlg::kEncoding), QStringLiteral("FLV (Sorenson H.263)"));
    EXPECT_EQ(texts.at(KSPropertiesDlg::kDimension), QStringLiteral("48 \u00D7 32, 3 frames - 250 ms (250 ms)"));
    EXPECT_TRUE(KSPropertiesDlg::texts(undecoded).count(KSPropertiesDlg::kProblems));

    for (int row : {1, 2}) {
        test::selectOnly(*frame().listCtrl(), row);
        QString caption;
        QSize picture;
        const test::ModalRun run = test::runPreview<KSViewImage>([this] { frame().onCommand(kCmdView); },
                                                                 [&](KSViewImage& preview) {
                                                                     if (preview.captionLabel())
                                                                         caption = preview.captionLabel()->text();
                                                                     picture = preview.previewLayout().picture;
                                                                     preview.close();
                                                                 });
        ASSERT_TRUE(run.opened) << row;
        if (row == 1) {
            EXPECT_EQ(caption, QStringLiteral("Sorenson H.263 - 3 frames - 250 ms"));
            EXPECT_EQ(picture, QSize(48, 32));
        } else {
            EXPECT_EQ(caption, QStringLiteral("VP6 - 1 frame - 83 ms"));
        }
    }
}

}  // namespace
}  // namespace kestrel
