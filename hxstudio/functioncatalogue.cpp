#include "functioncatalogue.h"

#include <QSet>
#include <initializer_list>

// Argument names are the same across the catalogue wherever they mean the same, and a name
// never stands for two types (an int "value", a double "fvalue"), so that a mask's code can
// declare each once. Texts are written as the string literal that goes there ("filename").
// The device clients' leaves use objects named ppi, siemensTCP and modbus; the PPI area codes
// are libnodave's (nodave.h), the Siemens organisation codes those of otSiemensTCP.

namespace {

CatalogueNode leafNode(const char* text) {
  CatalogueNode n;
  n.text = QString::fromUtf8(text);
  return n;
}

CatalogueNode group(const char* text, std::initializer_list<const char*> leaves) {
  CatalogueNode n = leafNode(text);
  for (const char* l : leaves)
    n.children.append(leafNode(l));
  return n;
}

// The calls that every widget has, first under most widget kinds.
const char* const kCommonCalls[] = {
    "hxToolTip(p,id,\"text\");",
    "hxSetGeometry(p,id,x,y,w,h);",
    "hxMove(p,id,x,y);",
    "hxResize(p,id,w,h);",
    "hxHide(p,id);",
    "hxShow(p,id);",
    "hxSetPaletteBackgroundColor(p,id,r,g,b);",
    "hxSetPaletteForegroundColor(p,id,r,g,b);",
    "hxSetFontColor(p,id,r,g,b);",
    "hxSetFont(p,id,\"family\",pointsize,bold,italic,underline,strikeout);",
    "hxSetEnabled(p,id,enabled);",
    "hxCopyToClipboard(p,id);",
    "hxSaveAsBmp(p,id,\"filename\");",
};

// A widget kind: the common calls, then its own.
CatalogueNode widgetKind(const char* text, std::initializer_list<const char*> own) {
  CatalogueNode n = leafNode(text);
  for (const char* l : kCommonCalls)
    n.children.append(leafNode(l));
  for (const char* l : own)
    n.children.append(leafNode(l));
  return n;
}

CatalogueNode ppiClient() {
  return group("otPPIClient", {
                                  "ppi.write(slave,daveDB,dbnum,start,len,data);",
                                  "ppi.writeFloat(slave,daveDB,dbnum,start,len,fval);",
                                  "ppi.writeDword(slave,daveDB,dbnum,start,len,ival);",
                                  "ppi.writeShort(slave,daveDB,dbnum,start,len,sval);",
                                  "ppi.writeUDword(slave,daveDB,dbnum,start,len,uival);",
                                  "ppi.writeUShort(slave,daveDB,dbnum,start,len,usval);",
                                  "ppi.read(offset,len);",
                                  "bit = (ppi.readBuffer[bytenum] >> bitnum) & 1;",
                                  "val = ppi.Float(index);",
                                  "val = ppi.Dword(index);",
                                  "val = ppi.Short(index);",
                                  "val = ppi.UDword(index);",
                                  "val = ppi.UShort(index);",
                              });
}

CatalogueNode siemensClient() {
  return group("otSiemensTCPClient",
               {
                   "siemensTCP.writeBit(slave,otSiemensTCP::ORG_DB,dbnum,start,bitnum,len,cbuf);",
                   "siemensTCP.writeByte(slave,otSiemensTCP::ORG_DB,dbnum,start,len,cbuf);",
                   "siemensTCP.writeFloat(slave,otSiemensTCP::ORG_DB,dbnum,start,len,fval);",
                   "siemensTCP.writeDword(slave,otSiemensTCP::ORG_DB,dbnum,start,len,ival);",
                   "siemensTCP.writeShort(slave,otSiemensTCP::ORG_DB,dbnum,start,len,sval);",
                   "siemensTCP.writeUDword(slave,otSiemensTCP::ORG_DB,dbnum,start,len,uival);",
                   "siemensTCP.writeUShort(slave,otSiemensTCP::ORG_DB,dbnum,start,len,usval);",
                   "siemensTCP.read(offset,len);",
                   "bit = (siemensTCP.readBuffer[bytenum] >> bitnum) & 1;",
                   "val = siemensTCP.Float(index);",
                   "val = siemensTCP.Dword(index);",
                   "val = siemensTCP.Short(index);",
                   "val = siemensTCP.UDword(index);",
                   "val = siemensTCP.UShort(index);",
               });
}

CatalogueNode modbusClient() {
  return group("otModbusClient", {
                                     "modbus.write(slave,function,data,len);",
                                     "modbus.writeSingleCoil(slave,adr,value);",
                                     "modbus.writeMultipleCoils(slave,adr,coils,num_coils);",
                                     "modbus.writePresetSingleRegister(slave,adr,value);",
                                     "modbus.writePresetMultipleRegisters(slave,adr,registers,"
                                     "num_values);",
                                     "val = modbus.readBit(offset,number);",
                                     "val = modbus.readByte(offset,number);",
                                     "val = modbus.readShort(offset,number);",
                                 });
}

// The calls shared by compasses, dials and clocks (the same operation under each kind's prefix).
CatalogueNode dialKind(const char* text, const char* prefix, const char* first) {
  static const char* const kCalls[] = {
      "SetMass(p,id,mass);",
      "SetReadOnly(p,id,on);",
      "SetFrameShadow(p,id,shadow);",
      "ShowBackground(p,id,on);",
      "SetLineWidth(p,id,width);",
      "SetMode(p,id,mode);",
      "SetWrapping(p,id,on);",
      "SetScale(p,id,maxMajor,maxMinor,step);",
      "SetScaleArc(p,id,minArc,maxArc);",
      "SetOrigin(p,id,angle);",
      "SetNeedle(p,id,needle,r1,g1,b1,r2,g2,b2);",
      "SetValue(p,id,fvalue);",
  };
  CatalogueNode n = leafNode(text);
  n.children.append(leafNode(first));
  for (const char* c : kCalls)
    n.children.append(leafNode((QByteArray(prefix) + c).constData()));
  return n;
}

CatalogueNode hxFunctions() {
  CatalogueNode hx = leafNode("hxFunctions");
  QVector<CatalogueNode>& k = hx.children;
  k << widgetKind("hxQWidget(...);", {});
  k << widgetKind("hxQLabel(...);", {
                                        "hxSetAlignment(p,id,alignment);",
                                        "hxSetText(p,id,\"text\");",
                                        "hxPrintf(p,id,\"%d\",value);",
                                        "hxSetBackgroundColor(p,id,r,g,b);",
                                        "hxText(p,id);",
                                        "hxSetStyle(p,id,shape,shadow,lineWidth,margin);",
                                        "hxSetMovie(p,id,\"filename\");",
                                        "hxMovieControl(p,id,control);",
                                        "hxMovieSpeed(p,id,percent);",
                                    });
  k << widgetKind("hxQComboBox(...);", {
                                           "hxPrintf(p,id,\"%d\",value);",
                                           "hxClear(p,id);",
                                           "hxInsertItem(p,id,index,\"text\");",
                                           "hxRemoveItem(p,id,index);",
                                           "hxRemoveItemByName(p,id,\"text\");",
                                           "hxSetCurrentItem(p,id,index);",
                                       });
  k << widgetKind("hxQLineEdit(...);", {
                                           "hxSetAlignment(p,id,alignment);",
                                           "hxPrintf(p,id,\"%d\",value);",
                                           "hxText(p,id);",
                                           "hxSetEditable(p,id,editable);",
                                           "hxSetStyle(p,id,shape,shadow,lineWidth,margin);",
                                       });
  k << widgetKind("hxQPushButton(...);", {
                                             "hxPrintf(p,id,\"%d\",value);",
                                             "hxSetPixmap(p,id,\"filename\");",
                                             "hxText(p,id);",
                                         });
  k << widgetKind("hxQLCDNumber(...);", {
                                            "hxDisplayNum(p,id,num);",
                                            "hxDisplayFloat(p,id,fvalue);",
                                            "hxDisplayStr(p,id,\"text\");",
                                            "hxSetStyle(p,id,shape,shadow,lineWidth,margin);",
                                        });
  k << widgetKind("hxQSlider(...);", {"hxSetValue(p,id,value);"});
  k << widgetKind("hxQButtonGroup(...);", {});
  k << widgetKind("hxQRadioButton(...);", {
                                              "hxPrintf(p,id,\"%d\",value);",
                                              "hxSetChecked(p,id,checked);",
                                          });
  k << widgetKind("hxQCheckBox(...);", {
                                           "hxPrintf(p,id,\"%d\",value);",
                                           "hxSetChecked(p,id,checked);",
                                       });
  k << widgetKind("hxQFrame(...);", {"hxSetStyle(p,id,shape,shadow,lineWidth,margin);"});
  k << widgetKind("hxQDraw(...);",
                  {
                      "hxSetZoomX(p,id,factor);",
                      "hxSetZoomY(p,id,factor);",
                      "gWriteFile(p,\"filename\");",
                      "gCloseFile(p);",
                      "gBeginDraw(p,id);",
                      "gBox(p,x,y,w,h);",
                      "gRect(p,x,y,w,h);",
                      "gEndDraw(p);",
                      "gLineTo(p,x,y);",
                      "gBufferedLine(p,xvalues,yvalues,n,first);",
                      "gLine(p,xvalues,yvalues,n);",
                      "gMoveTo(p,x,y);",
                      "gRightYAxis(p,ymin,dy,ymax,draw);",
                      "gSetColor(p,r,g,b);",
                      "gSetWidth(p,width);",
                      "gSetStyle(p,style);",
                      "gDrawArc(p,x,y,w,h,start,span);",
                      "gDrawPie(p,x,y,w,h,start,span);",
                      "gDrawPolygon(p,xcorners,ycorners,n);",
                      "gSetFont(p,\"family\",size,weight,italic);",
                      "gSetLinestyle(p,symbol);",
                      "gText(p,x,y,alignment,\"text\");",
                      "gTextInAxis(p,xpos,ypos,alignment,\"text\");",
                      "gSetFloatFormat(p,\"%.1f\");",
                      "gXAxis(p,xmin,dx,xmax,draw);",
                      "gYAxis(p,ymin,dy,ymax,draw);",
                      "gXGrid(p);",
                      "gYGrid(p);",
                      "gBoxWithText(p,x,y,w,h,fontsize,\"xlabel\",\"ylabel\",\"rylabel\");",
                      "gComment(p,\"comment\");",
                      "gPlaySVG(p,\"filename\");",
                      "gSocketPlaySVG(p,\"svgtext\");",
                      "gTranslate(p,dx,dy);",
                      "gRotate(p,angle);",
                      "gScale(p,sx,sy);",
                  });
  k << widgetKind("hxQImage(...);", {"hxSetImage(p,id,\"filename\");"});
  k << widgetKind("hxQGL(...);", {});
  k << widgetKind("hxQTabWidget(...);", {
                                            "hxSetValue(p,id,value);",
                                            "hxSetTabPosition(p,id,position);",
                                        });
  k << widgetKind("hxQToolBox(...);", {
                                          "hxSetValue(p,id,value);",
                                          "hxSetStyle(p,id,shape,shadow,lineWidth,margin);",
                                      });
  k << widgetKind("hxQGroupBox(...);", {"hxSetStyle(p,id,shape,shadow,lineWidth,margin);"});
  k << widgetKind("hxQListBox(...);", {
                                          "hxClear(p,id);",
                                          "hxChangeItem(p,id,index,\"text\");",
                                          "hxInsertItem(p,id,index,\"text\");",
                                          "hxRemoveItem(p,id,index);",
                                          "hxRemoveItemByName(p,id,\"text\");",
                                          "hxSelection(p,id);",
                                      });
  k << widgetKind("hxQTable(...);",
                  {
                      "hxSetTableText(p,id,x,y,\"text\");",
                      "hxSetTableButton(p,id,x,y,\"text\");",
                      "hxSetTableCheckBox(p,id,x,y,checked,\"text\");",
                      "hxSetTableComboBox(p,id,x,y,editable,\"choice1,choice2\");",
                      "hxSetTableLabel(p,id,x,y,\"text\");",
                      "hxTablePrintf(p,id,x,y,\"%d\",value);",
                      "hxSetColumnWidth(p,id,column,width);",
                      "hxSetWordWrap(p,id,on);",
                      "hxSetTablePixmap(p,id,x,y,\"filename\");",
                      "hxEnsureCellVisible(p,id,x,y);",
                      "hxSetEditable(p,id,editable);",
                      "hxTableSetEnabled(p,id,x,y,enabled);",
                      "hxTableSetHeaderResizeEnabled(p,id,vertical,enabled,section);",
                      "hxSetNumRows(p,id,rows);",
                      "hxSetNumCols(p,id,columns);",
                      "hxInsertRows(p,id,row,count);",
                      "hxInsertColumns(p,id,column,count);",
                      "hxRemoveRow(p,id,row);",
                      "hxRemoveColumn(p,id,column);",
                      "hxSetTableTextAlignment(p,id,x,y,alignment);",
                      "hxSave(p,id,\"filename\");",
                      "hxMysqldump(p,id,\"filename\",\"table\");",
                      "hxCSVdump(p,id,\"filename\",',');",
                      "hxCSV(p,id,\"filename\",',');",
                  });
  k << widgetKind("hxQSpinBox(...);", {"hxSetValue(p,id,value);"});
  k << widgetKind("hxQDial(...);", {"hxSetValue(p,id,value);"});
  k << widgetKind("hxQProgressBar(...);", {
                                              "hxSetValue(p,id,value);",
                                              "hxSetStyle(p,id,shape,shadow,lineWidth,margin);",
                                          });
  k << widgetKind("hxQMultiLineEdit(...);", {
                                                "hxPrintf(p,id,\"%d\",value);",
                                                "hxClear(p,id);",
                                                "hxText(p,id);",
                                                "hxSetEditable(p,id,editable);",
                                                "hxMoveCursor(p,id,action);",
                                            });
  k << widgetKind("hxQTextBrowser(...);", {
                                              "hxPrintf(p,id,\"%d\",value);",
                                              "hxSetSource(p,id,\"filename\");",
                                              "hxMoveContent(p,id,x,y);",
                                              "hxMoveCursor(p,id,action);",
                                          });
  k << widgetKind("hxQListView(...);",
                  {
                      "hxClear(p,id);",
                      "hxAddColumn(p,id,\"title\",width);",
                      "hxSetListViewText(p,id,\"/parent/item\",column,\"text\");",
                      "hxListViewPrintf(p,id,\"/parent/item\",column,\"%d\",value);",
                      "hxSetListViewPixmap(p,id,\"/parent/item\",\"filename\",column);",
                      "hxRemoveListViewItem(p,id,\"/parent/item\");",
                      "hxSelection(p,id);",
                      "hxSetSorting(p,id,column,ascending);",
                      "hxListViewEnsureVisible(p,id,\"/parent/item\");",
                  });
  k << widgetKind("hxQIconView(...);", {
                                           "hxClear(p,id);",
                                           "hxRemoveIconViewItem(p,id,\"text\");",
                                           "hxSetIconViewItem(p,id,\"text\",\"filename\");",
                                       });
  k << group("hxQVtkTclWidget(...);", {
                                          "hxVtkTcl(p,id,\"command\");",
                                          "hxVtkTclPrintf(p,id,\"set value %d\",value);",
                                          "hxVtkTclScript(p,id,\"filename\");",
                                      });
  k << group("hxQwtPlot(...);",
             {
                 "qpwSetCurveData(p,id,curve,xdata,ydata,count);",
                 "qpwSetBufferedCurveData(p,id,curve,xdata,ydata,count);",
                 "qpwReplot(p,id);",
                 "qpwSetTitle(p,id,\"title\");",
                 "qpwSetCanvasBackground(p,id,r,g,b);",
                 "qpwEnableOutline(p,id,on);",
                 "qpwSetOutlinePen(p,id,r,g,b,width,style);",
                 "qpwSetAutoLegend(p,id,on);",
                 "qpwEnableLegend(p,id,on);",
                 "qpwSetLegendPos(p,id,position);",
                 "qpwSetLegendFrameStyle(p,id,style);",
                 "qpwEnableGridXMin(p,id,on);",
                 "qpwSetGridMajPen(p,id,r,g,b,width,style);",
                 "qpwSetGridMinPen(p,id,r,g,b,width,style);",
                 "qpwEnableAxis(p,id,axis,on);",
                 "qpwSetAxisTitle(p,id,axis,\"title\");",
                 "qpwSetAxisOptions(p,id,axis,axisOptions);",
                 "qpwSetAxisMaxMajor(p,id,axis,maxMajor);",
                 "qpwSetAxisMaxMinor(p,id,axis,maxMinor);",
                 "qpwInsertCurve(p,id,curve,\"title\");",
                 "qpwRemoveCurve(p,id,curve);",
                 "qpwSetCurvePen(p,id,curve,r,g,b,width,style);",
                 "qpwSetCurveSymbol(p,id,curve,symbol,r1,g1,b1,r2,g2,b2,w,h);",
                 "qpwSetCurveYAxis(p,id,curve,axis);",
                 "qpwInsertMarker(p,id,marker);",
                 "qpwSetMarkerLineStyle(p,id,marker,style);",
                 "qpwSetMarkerPos(p,id,marker,xpos,ypos);",
                 "qpwSetMarkerLabelAlign(p,id,marker,alignment);",
                 "qpwSetMarkerPen(p,id,marker,r,g,b,width,style);",
                 "qpwSetMarkerLabel(p,id,marker,\"text\");",
                 "qpwSetMarkerFont(p,id,marker,\"family\",pointsize,bold,italic);",
                 "qpwSetMarkerSymbol(p,id,marker,symbol,r1,g1,b1,r2,g2,b2,w,h);",
                 "qpwInsertLineMarker(p,id,marker,\"label\",axis);",
                 "qpwSetAxisScaleDraw(p,id,axis,\"%.1f\");",
                 "qpwSetAxisScale(p,id,axis,min,max,step);",
             });
  k << group("hxQwtScale(...);", {
                                     "qwtScaleSetTitle(p,id,\"title\");",
                                     "qwtScaleSetTitleColor(p,id,r,g,b);",
                                     "qwtScaleSetTitleFont(p,id,\"family\",pointsize,bold,italic);",
                                     "qwtScaleSetTitleAlignment(p,id,alignment);",
                                     "qwtScaleSetBorderDist(p,id,start,end);",
                                     "qwtScaleSetBaselineDist(p,id,distance);",
                                     "qwtScaleSetScaleDiv(p,id,min,max,maxMajor,maxMinor,step);",
                                     "qwtScaleSetLabelFormat(p,id,\"%.1f\");",
                                     "qwtScaleSetLabelAlignment(p,id,alignment);",
                                     "qwtScaleSetLabelRotation(p,id,angle);",
                                     "qwtScaleSetPosition(p,id,position);",
                                 });
  k << group("hxQwtThermo(...);", {
                                      "qwtThermoSetScale(p,id,min,max,step,logarithmic);",
                                      "qwtThermoSetOrientation(p,id,orientation,position);",
                                      "qwtThermoSetBorderWidth(p,id,width);",
                                      "qwtThermoSetFillColor(p,id,r,g,b);",
                                      "qwtThermoSetAlarmColor(p,id,r,g,b);",
                                      "qwtThermoSetAlarmLevel(p,id,level);",
                                      "qwtThermoSetAlarmEnabled(p,id,on);",
                                      "qwtThermoSetPipeWidth(p,id,width);",
                                      "qwtThermoSetRange(p,id,min,max);",
                                      "qwtThermoSetMargin(p,id,margin);",
                                      "qwtThermoSetValue(p,id,fvalue);",
                                  });
  k << group("hxQwtKnob(...);", {
                                    "qwtKnobSetScale(p,id,min,max,step,logarithmic);",
                                    "qwtKnobSetMass(p,id,mass);",
                                    "qwtKnobSetOrientation(p,id,orientation);",
                                    "qwtKnobSetReadOnly(p,id,on);",
                                    "qwtKnobSetKnobWidth(p,id,width);",
                                    "qwtKnobSetTotalAngle(p,id,angle);",
                                    "qwtKnobSetBorderWidth(p,id,width);",
                                    "qwtKnobSetSymbol(p,id,symbol);",
                                    "qwtKnobSetValue(p,id,fvalue);",
                                });
  k << group("hxQwtCounter(...);", {
                                       "qwtCounterSetStep(p,id,step);",
                                       "qwtCounterSetMinValue(p,id,min);",
                                       "qwtCounterSetMaxValue(p,id,max);",
                                       "qwtCounterSetStepButton1(p,id,steps);",
                                       "qwtCounterSetStepButton2(p,id,steps);",
                                       "qwtCounterSetStepButton3(p,id,steps);",
                                       "qwtCounterSetNumButtons(p,id,count);",
                                       "qwtCounterSetIncSteps(p,id,button,steps);",
                                       "qwtCounterSetValue(p,id,fvalue);",
                                   });
  k << group("hxQwtWheel(...);", {
                                     "qwtWheelSetMass(p,id,mass);",
                                     "qwtWheelSetOrientation(p,id,orientation);",
                                     "qwtWheelSetReadOnly(p,id,on);",
                                     "qwtWheelSetTotalAngle(p,id,angle);",
                                     "qwtWheelSetTickCnt(p,id,count);",
                                     "qwtWheelSetViewAngle(p,id,angle);",
                                     "qwtWheelSetInternalBorder(p,id,width);",
                                     "qwtWheelSetWheelWidth(p,id,width);",
                                     "qwtWheelSetValue(p,id,fvalue);",
                                 });
  k << group("hxQwtSlider(...);", {
                                      "qwtSliderSetScale(p,id,min,max,step,logarithmic);",
                                      "qwtSliderSetMass(p,id,mass);",
                                      "qwtSliderSetOrientation(p,id,orientation);",
                                      "qwtSliderSetReadOnly(p,id,on);",
                                      "qwtSliderSetBgStyle(p,id,style);",
                                      "qwtSliderSetScalePos(p,id,position);",
                                      "qwtSliderSetThumbLength(p,id,length);",
                                      "qwtSliderSetThumbWidth(p,id,width);",
                                      "qwtSliderSetBorderWidth(p,id,width);",
                                      "qwtSliderSetMargins(p,id,xMargin,yMargin);",
                                      "qwtSliderSetValue(p,id,fvalue);",
                                  });
  k << dialKind("hxQwtCompass(...);", "qwtCompass",
                "qwtCompassSetSimpleCompassRose(p,id,numThorns,numThornLevels,thornWidth);");
  k << dialKind("hxQwtDial(...);", "qwtDial", "qwtDialSetRange(p,id,min,max,step);");
  k << dialKind("hxQwtAnalogClock(...);", "qwtAnalogClock",
                "qwtAnalogClockSetTime(p,id,hour,minute,second);");
  k << widgetKind("hxQDateEdit(...);", {
                                           "hxSetDate(p,id,year,month,day);",
                                           "hxSetMinDate(p,id,year,month,day);",
                                           "hxSetMaxDate(p,id,year,month,day);",
                                           "hxSetDateOrder(p,id,order);",
                                       });
  k << widgetKind("hxQTimeEdit(...);", {
                                           "hxSetTime(p,id,hour,minute,second,msec);",
                                           "hxSetMinTime(p,id,hour,minute,second,msec);",
                                           "hxSetMaxTime(p,id,hour,minute,second,msec);",
                                           "hxSetTimeEditDisplay(p,id,hour,minute,second,ampm);",
                                       });
  k << widgetKind("hxQDateTimeEdit(...);", {
                                               "hxSetDate(p,id,year,month,day);",
                                               "hxSetMinDate(p,id,year,month,day);",
                                               "hxSetMaxDate(p,id,year,month,day);",
                                               "hxSetTime(p,id,hour,minute,second,msec);",
                                               "hxSetMinTime(p,id,hour,minute,second,msec);",
                                               "hxSetMaxTime(p,id,hour,minute,second,msec);",
                                               "hxSetDateOrder(p,id,order);",
                                           });
  k << group("Dialogs(...);",
             {
                 "bytes = hxFileDialog(p,\"title\",\"filter\",name,sizeof(name),&filedata,"
                 "maxBytes);",
                 "choice = hxPopupMenu(p,\"item1,item2,,item3\");",
                 "button = hxMessageBox(p,type,\"title\",\"text\",buttons);",
                 "len = hxInputDialog(p,\"title\",\"label\",\"initial\",answer,sizeof(answer));",
                 "hxRunModalDialog(p,w,h,modalMask,updateBaseMask);",
                 "hxRunModalDialogScript(p,w,h,modalFunction,updateBaseFunction,userdata);",
                 "hxTerminateModalDialog(p);",
                 "hxUpdateBaseWindow(p);",
                 "hxUpdateBaseWindowOnOff(p,on);",
             });
  k << group("Global(...);", {
                                 "hxDownloadFile(p,\"filename\");",
                                 "hxDownloadFileAs(p,\"filename\",\"clientname\");",
                                 "hxXYAllocate(p,n);",
                                 "hxSetXY(p,i,xpos,ypos);",
                                 "hxInitInternal(&options);",
                                 "hxInit(argc,argv,&options);",
                                 "server = hxAccept(&options,serveClient,userdata);",
                                 "hxCreateThread(p,threadFunction,userdata);",
                                 "len = hxGetInitialMask(p,name,sizeof(name));",
                                 "hxMain(argc,argv,serveClient,userdata);",
                                 "hxSetCleanup(p,cleanupFunction,userdata);",
                                 "hxGetEvent(p,event);",
                                 "hxPollEvent(p,event);",
                                 "hxWait(p,\"pattern\");",
                                 "hxGlUpdate(p,id);",
                                 "hxSleep(ms);",
                                 "hxWarning(p,\"text\");",
                                 "hxMainFatal(p,\"text\");",
                                 "return hxThreadFatal(p,\"text\");",
                                 "hxScreenHint(p,w,h);",
                                 "hxBeep(p);",
                                 "hxPlaySound(p,\"filename\");",
                                 "hxClientCommand(p,\"command\");",
                                 "hxCSVcreate(p,\"clientname\",cells,rows,columns);",
                                 "hxHyperlink(p,\"https://host/page\");",
                             });
  return hx;
}

QVector<CatalogueNode> build() {
  return {ppiClient(), siemensClient(), modbusClient(), hxFunctions()};
}

void collect(const CatalogueNode& n, QVector<QString>* out, QSet<QString>* seen) {
  if (n.children.isEmpty()) {
    if (!seen->contains(n.text)) {
      seen->insert(n.text);
      out->append(n.text);
    }
    return;
  }
  for (const CatalogueNode& c : n.children)
    collect(c, out, seen);
}

}  // namespace

const QVector<CatalogueNode>& functionCatalogue() {
  static const QVector<CatalogueNode> catalogue = build();
  return catalogue;
}

QVector<QString> catalogueLeaves() {
  QVector<QString> out;
  QSet<QString> seen;
  for (const CatalogueNode& n : functionCatalogue())
    collect(n, &out, &seen);
  return out;
}
