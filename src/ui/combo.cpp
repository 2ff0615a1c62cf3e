#include "ui/combo.h"

#include <QComboBox>

int listPosition(const QComboBox* box) {
  if (!box->isEditable()) return box->currentIndex();
  return box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void setBoxText(QComboBox* box, const QString& text) {
  const int at = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (at >= 0) box->setCurrentIndex(at);
  if (box->isEditable()) box->setEditText(text);
}

void setListPosition(QComboBox* box, int position) {
  if (position < -1 || position >= box->count()) return;
  box->setCurrentIndex(position);
  if (position == -1 && box->isEditable()) box->setEditText(QString());
}
