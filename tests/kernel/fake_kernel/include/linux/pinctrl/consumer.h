/* Fake kernel: pin control; the test chooses whether selection fails. */
#ifndef FAKE_LINUX_PINCTRL_CONSUMER_H
#define FAKE_LINUX_PINCTRL_CONSUMER_H

#include <linux/device.h>

#ifdef __cplusplus
extern "C" {
#endif

struct pinctrl;

struct pinctrl* devm_pinctrl_get_select_default(struct device* dev);

#ifdef __cplusplus
}
#endif

#endif
