// The catalogue of calls that a mask's code may make: the display-server library (hx..., g...,
// the Qwt calls qpw... and qwt...) by widget kind, the dialogs and global calls, and the device
// clients. The insert-function dialog shows it as a tree and the editor completes from it. A
// leaf is exactly the statement inserted, with argument names that say what goes there.
#ifndef HXSTUDIO_FUNCTIONCATALOGUE_H
#define HXSTUDIO_FUNCTIONCATALOGUE_H

#include <QString>
#include <QVector>

struct CatalogueNode {
  QString text;  // a category ("hxFunctions"), a kind ("hxQLabel(...);") or a leaf statement
  QVector<CatalogueNode> children;
};

// The top level in the dialog's order: otPPIClient, otSiemensTCPClient, otModbusClient,
// hxFunctions (one node per widget kind, then "Dialogs(...);" and "Global(...);").
const QVector<CatalogueNode>& functionCatalogue();
// Every leaf, in tree order, each once.
QVector<QString> catalogueLeaves();

#endif
