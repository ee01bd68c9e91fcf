// The display-server library: the setters of the widget kinds: texts and alignment, items of combo
// and list boxes, tables, list and icon views, text browsers, dates and times, pixmaps and movies,
// and the calls every widget has. Included by hxserver.h, which declares PARAM_.
#ifndef HXWIDGETCALLS_H
#define HXWIDGETCALLS_H

#endif
