// The LCD interface display driver's probe, display initialisation and remove,
// run in user space against the fake kernel.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_kernel.h"

namespace {

// The panel table typed in a second time, so that a slip in either copy shows.
struct PanelMode {
    const char* name;
    uint32_t refresh, xres, yres, pixclock, left, right, upper, lower, hsync, vsync, sync;
};
const PanelMode kPanels[] = {
    {"CLAA-WVGA", 57, 800, 480, 37037, 40, 60, 10, 10, 20, 10, 0x40000000},
    {"SEIKO-WVGA", 60, 800, 480, 29850, 89, 164, 23, 10, 10, 10, 0x40000000},
    {"ST0500A1W", 60, 720, 1280, 17544, 6, 6, 6, 2, 4, 2, 0},
    {"ETM0700G0DH6", 60, 480, 800, 33260, 63, 10, 15, 15, 10, 15, 0x40000003},
};

const uint32_t kRgb24 = 0x33424752;
const uint32_t kRgb666 = 0x36424752;
const uint32_t kCallerFormat = 0x12345678;  // none of the driver's codes

void ExpectScreenHolds(const fb_var_screeninfo& v, const PanelMode& p) {
    EXPECT_EQ(std::vector<uint32_t>({v.xres, v.yres, v.pixclock, v.left_margin, v.right_margin,
                                     v.upper_margin, v.lower_margin, v.hsync_len, v.vsync_len,
                                     v.sync, v.vmode}),
              std::vector<uint32_t>({p.xres, p.yres, p.pixclock, p.left, p.right, p.upper, p.lower,
                                     p.hsync, p.vsync, p.sync, 0}));
}

std::vector<fb_videomode> ModeList(const fb_info& fbi) {
    std::vector<fb_videomode> modes;
    for (const list_head* pos = fbi.modelist.next; pos != &fbi.modelist; pos = pos->next) {
        modes.push_back(reinterpret_cast<const fb_modelist*>(pos)->mode);
    }
    return modes;
}

class MxcLcdif : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_kernel_reset();
        ASSERT_EQ(fake_module_init(), 0);
        pdev_.name = "mxc_lcdif";
        pdev_.dev.properties = props_;
        SetProperties("RGB666", 0, 0);
        INIT_LIST_HEAD(&fbi_.modelist);
        setting_.fbi = &fbi_;
        setting_.default_bpp = 16;
        setting_.if_fmt = kCallerFormat;
        setting_.disp_port = -1;
    }

    void TearDown() override {
        if (fake_dispdrv_registered()) {
            EXPECT_EQ(fake_platform_remove(&pdev_), 0);
        }
        fake_module_exit();
        if (fbi_.modelist.next) {
            fb_destroy_modelist(&fbi_.modelist);
        }
    }

    void SetProperties(const char* ifmt, uint32_t ipu_id, uint32_t disp_id) {
        props_[0] = {"default_ifmt", ifmt, 0, 0};
        props_[1] = {"ipu_id", nullptr, ipu_id, 0};
        props_[2] = {"disp_id", nullptr, disp_id, 0};
        props_[3] = {};
    }

    int Bind(const char* mode, int find_mode_result) {
        setting_.default_mode_str = mode;
        fake_kernel.find_mode_result = find_mode_result;
        return fake_dispdrv_bind("lcd", &setting_);
    }

    // What every failed probe must leave: no registration, no managed
    // resource, no pointer to freed data on the device.
    void ExpectNothingLeft() {
        EXPECT_FALSE(fake_dispdrv_registered());
        EXPECT_EQ(fake_devres_count(&pdev_.dev), 0);
        EXPECT_EQ(pdev_.dev.platform_data, nullptr);
        EXPECT_EQ(pdev_.dev.driver_data, nullptr);
    }

    fake_property props_[4] = {};
    platform_device pdev_ = {};
    fb_info fbi_ = {};
    mxc_dispdrv_setting setting_ = {};
};

TEST_F(MxcLcdif, ModuleLoadRegistersThePlatformDriverAndUnloadRemovesIt) {
    const platform_driver* drv = fake_kernel.registered_driver;
    ASSERT_NE(drv, nullptr);
    EXPECT_STREQ(drv->driver.name, "mxc_lcdif");
    EXPECT_STREQ(drv->driver.of_match_table[0].compatible, "fsl,lcd");
    EXPECT_STREQ(drv->driver.of_match_table[1].compatible, "");
    EXPECT_EQ(fake_module_of_table, drv->driver.of_match_table);
    EXPECT_STREQ(fake_module_license, "GPL");
    EXPECT_STREQ(fake_module_description, "i.MX ipuv3 LCD extern port driver");

    fake_module_exit();
    EXPECT_EQ(fake_kernel.registered_driver, nullptr);
    ASSERT_EQ(fake_module_init(), 0);
}

TEST_F(MxcLcdif, ProbeRegistersLcdAndRemoveGivesItBackAgainAndAgain) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(fake_platform_probe(&pdev_), 0);
        mxc_dispdrv_handle* handle = fake_dispdrv_find("lcd");
        ASSERT_NE(handle, nullptr);
        EXPECT_NE(pdev_.dev.platform_data, nullptr);
        EXPECT_NE(pdev_.dev.driver_data, nullptr);
        EXPECT_EQ(mxc_dispdrv_getdata(handle), pdev_.dev.driver_data);
        EXPECT_EQ(fake_kernel.pinctrl_calls, round + 1);
        EXPECT_STREQ(fake_kernel.dev_err_log, "");

        EXPECT_EQ(fake_platform_remove(&pdev_), 0);
        EXPECT_EQ(fake_kernel.puthandle_calls, round + 1);
        EXPECT_EQ(fake_kernel.last_put, handle);
        ExpectNothingLeft();
    }
}

TEST_F(MxcLcdif, FormatNamesGiveTheirCodesByPrefixInTableOrder) {
    const struct {
        const char* name;
        uint32_t code;
    } formats[] = {
        {"RGB24", 0x33424752},   {"BGR24", 0x33524742},  {"GBR24", 0x33524247},
        {"RGB565", 0x50424752},  {"RGB666", 0x36424752}, {"YUV444", 0x34343459},
        {"LVDS666", 0x3644564c}, {"YUYV16", 0x56595559}, {"UYVY16", 0x59565955},
        {"YVYU16", 0x55595659},  {"VYUY16", 0x59555956}, {"RGB24-suffix", kRgb24},
        {"RGB6660", kRgb666},
    };
    for (const auto& format : formats) {
        SCOPED_TRACE(format.name);
        SetProperties(format.name, 0, 0);
        ASSERT_EQ(fake_platform_probe(&pdev_), 0);
        setting_.if_fmt = kCallerFormat;
        EXPECT_EQ(Bind(nullptr, 0), 0);
        EXPECT_EQ(setting_.if_fmt, format.code);
        EXPECT_EQ(fake_platform_remove(&pdev_), 0);
    }
}

TEST_F(MxcLcdif, UnknownFormatNameFailsTheProbeWithBothMessages) {
    for (const char* name : {"RGB", "RGB2", "rgb24", "XRGB24", ""}) {
        SCOPED_TRACE(name);
        fake_kernel_reset();
        ASSERT_EQ(fake_module_init(), 0);
        SetProperties(name, 0, 0);
        EXPECT_EQ(fake_platform_probe(&pdev_), -ENOENT);
        EXPECT_STREQ(fake_kernel.dev_err_log, "err default_ifmt!\nget lcd of property fail\n");
        EXPECT_EQ(fake_kernel.pinctrl_calls, 0);
        ExpectNothingLeft();
    }
}

TEST_F(MxcLcdif, MissingOrUnreadablePropertyFailsTheProbeWithItsError) {
    for (int missing = 0; missing < 3; ++missing) {
        for (int error : {0, -EOVERFLOW}) {
            SCOPED_TRACE(::testing::Message() << "property " << missing << " error " << error);
            fake_kernel_reset();
            ASSERT_EQ(fake_module_init(), 0);
            // An unknown name too: a failed read comes first and alone.
            SetProperties("RGB", 0, 0);
            if (error) {
                props_[missing].error = error;
            } else {
                props_[missing].name = "absent";
            }
            EXPECT_EQ(fake_platform_probe(&pdev_), error ? error : -EINVAL);
            EXPECT_STREQ(fake_kernel.dev_err_log, "get lcd of property fail\n");
            ExpectNothingLeft();
        }
    }
}

TEST_F(MxcLcdif, PinControlFailureFailsTheProbeWithItsError) {
    fake_kernel.pinctrl_error = -EPROBE_DEFER;
    EXPECT_EQ(fake_platform_probe(&pdev_), -EPROBE_DEFER);
    EXPECT_STREQ(fake_kernel.dev_err_log, "can't get/select pinctrl\n");
    ExpectNothingLeft();
}

TEST_F(MxcLcdif, EachFailedManagedAllocationFailsTheProbeWithENOMEM) {
    int fail_at = 1;
    for (;; ++fail_at) {
        SCOPED_TRACE(fail_at);
        fake_kernel.devm_fail_at = fail_at;
        fake_kernel.devm_calls = 0;
        int ret = fake_platform_probe(&pdev_);
        if (ret == 0) {
            break;
        }
        EXPECT_EQ(ret, -ENOMEM);
        EXPECT_STREQ(fake_kernel.dev_err_log, "");
        ExpectNothingLeft();
        ASSERT_LT(fail_at, 10);
    }
    EXPECT_GT(fail_at, 2) << "driver data and platform data are both managed";
}

TEST_F(MxcLcdif, RefusedRegistrationFailsTheProbeWithTheRegistrysError) {
    fake_kernel.register_error = -EBUSY;
    EXPECT_EQ(fake_platform_probe(&pdev_), -EBUSY);
    ExpectNothingLeft();
    EXPECT_EQ(fake_dispdrv_bind("lcd", &setting_), -ENODEV);
}

TEST_F(MxcLcdif, DisplayPortFollowsTheIpuAndInterfaceOrInitialisationIsRefused) {
    const struct {
        uint32_t ipu, di;
        int port;  // -1: refused
        const char* message;
    } cases[] = {
        {0, 0, 2, ""},
        {0, 1, 3, ""},
        {1, 0, 4, ""},
        {1, 1, 5, ""},
        {2, 0, -1, "failed to get valid ipu di crtc ipu_id 2, ipu_di 0\n"},
        {0, 2, -1, "failed to get valid ipu di crtc ipu_id 0, ipu_di 2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "ipu " << c.ipu << " di " << c.di);
        SetProperties("RGB24", c.ipu, c.di);
        ASSERT_EQ(fake_platform_probe(&pdev_), 0);
        fake_kernel.dev_err_log[0] = '\0';
        fake_kernel.find_mode_calls = 0;
        setting_.disp_port = -1;
        EXPECT_EQ(Bind("CLAA-WVGA", 1), c.port < 0 ? -EINVAL : 1);
        EXPECT_EQ(setting_.disp_port, c.port);
        EXPECT_STREQ(fake_kernel.dev_err_log, c.message);
        EXPECT_EQ(fake_kernel.find_mode_calls, c.port < 0 ? 0 : 1);
        EXPECT_EQ(fake_platform_remove(&pdev_), 0);
    }
}

TEST_F(MxcLcdif, EachPanelChosenByNameIsTheModeAndTheOnlyListEntry) {
    for (const PanelMode& panel : kPanels) {
        SCOPED_TRACE(panel.name);
        ASSERT_EQ(fake_platform_probe(&pdev_), 0);
        setting_.if_fmt = kCallerFormat;
        setting_.default_bpp = 24;
        EXPECT_EQ(Bind(panel.name, 1), 1);
        EXPECT_EQ(fake_kernel.find_mode_option, panel.name);
        EXPECT_EQ(fake_kernel.find_mode_dbsize, 4u);
        EXPECT_EQ(fake_kernel.find_mode_default, nullptr);
        EXPECT_EQ(fake_kernel.find_mode_bpp, 24u);
        EXPECT_EQ(setting_.if_fmt, kCallerFormat);
        ExpectScreenHolds(fbi_.var, panel);

        std::vector<fb_videomode> modes = ModeList(fbi_);
        ASSERT_EQ(modes.size(), 1u);
        EXPECT_STREQ(modes[0].name, panel.name);
        EXPECT_EQ(modes[0].refresh, panel.refresh);
        EXPECT_EQ(modes[0].flag, 0u);
        EXPECT_EQ(fake_platform_remove(&pdev_), 0);
    }
    EXPECT_EQ(fake_kernel.modelist_entries_live, 1);
}

TEST_F(MxcLcdif, NoModeFoundLoadsTheFirstPanelAndThePlatformFormat) {
    ASSERT_EQ(fake_platform_probe(&pdev_), 0);
    EXPECT_EQ(Bind("SEIKO-WVGA", 0), 0);
    ExpectScreenHolds(fbi_.var, kPanels[0]);
    EXPECT_EQ(setting_.if_fmt, kRgb666);
    std::vector<fb_videomode> modes = ModeList(fbi_);
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_STREQ(modes[0].name, "CLAA-WVGA");
}

TEST_F(MxcLcdif, ModeOutsideTheTableEmptiesTheModeList) {
    // One timing value off a table entry: equal by name is not equal.
    fb_videomode near_claa = {"CLAA-WVGA", 57, 800, 480, 37038,      40, 60,
                              10,          10, 20,  10,  0x40000000, 0,  0};
    fake_kernel.find_mode_loads = &near_claa;
    ASSERT_EQ(fake_platform_probe(&pdev_), 0);

    // A list left from before is given back, and so is one never set up.
    fb_add_videomode(&near_claa, &fbi_.modelist);
    EXPECT_EQ(Bind("CLAA-WVGA", 3), 3);
    EXPECT_TRUE(ModeList(fbi_).empty());
    EXPECT_EQ(fake_kernel.modelist_entries_live, 0);
    EXPECT_EQ(setting_.if_fmt, kCallerFormat);

    fbi_.modelist = {};
    EXPECT_EQ(Bind("CLAA-WVGA", 3), 3);
    EXPECT_TRUE(ModeList(fbi_).empty());
}

}  // namespace
