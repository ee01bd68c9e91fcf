#include "functioncatalogue.h"

#include <QSet>

namespace {

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
  // Filled with the catalogue of the insert-function dialog.
  static const QVector<CatalogueNode> catalogue;
  return catalogue;
}

QVector<QString> catalogueLeaves() {
  QVector<QString> out;
  QSet<QString> seen;
  for (const CatalogueNode& n : functionCatalogue())
    collect(n, &out, &seen);
  return out;
}
