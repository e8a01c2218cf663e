#ifndef VELK_UIMETATYPES_H
#define VELK_UIMETATYPES_H

#include "DataBlock.h"
#include "Velk21DataBlockKernel.h"

#include <QMetaType>

// The records that sessionComplete carries from a worker thread to the GUI
// thread; the dialog registers them under these names before any queued
// delivery can happen.
Q_DECLARE_METATYPE(Velk21DataBlockKernel)
Q_DECLARE_METATYPE(DataBlock<unsigned char>)

#endif
