// The display-server library: the Qwt widgets: plots (qpw...), scales, thermometers, knobs,
// counters, wheels, sliders, compasses, dials and analog clocks (qwt...). Included by hxserver.h,
// which declares PARAM_.
#ifndef HXQWT_H
#define HXQWT_H

#endif
