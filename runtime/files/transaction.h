// Transactions over the calling thread's files. A transaction is begun with
// one or more enlisted files and ends with TxCommit (every change since
// TxBegin made durable together) or TxRollback (all of them discarded).
// Each sets the thread's error state; 80 when a file's driver has none.
//
// Enlisting: TxBegin(timeout, file) enlists `file` and begins the
// transaction, or adds the file to the one already begun (enlisting a second
// declaration of a disk file already in it is not an error). Setting file
// property 29441 to 1 enlists the file in the transaction already begun, or
// marks it for the next TxBegin(timeout).
//
// Reads inside a transaction see one state of each enlisted file from the
// begin to the end: with the KEYED driver a file opened for reading takes its
// read lock at the begin (waiting the timeout, 43 when a writer keeps it),
// and no other process can commit to it until the transaction ends.
//
// With the KEYED driver every KEYED file of the thread shares one connection
// and so one transaction: all-or-nothing covers each of them. Closing the last
// enlisted file rolls back what it left uncommitted; a halt rolls back too.
#pragma once

namespace rt {

class File;

// Begins over the files marked with property 29441 (at least one).
void TxBegin(int timeoutSeconds);
void TxBegin(int timeoutSeconds, File& file);
// Ends the transaction keeping its changes; on the user interface thread
// the windows go on repainting and taking input while it waits for the disk
// (blocking_call.h). When the commit cannot get its
// locks (43) the transaction stays open and may be committed again or rolled
// back. Without a transaction it does nothing and succeeds.
void TxCommit();
void TxRollback();
// Whether the calling thread has a transaction open.
bool TxActive();
// Whether the open transaction is lost: its driver already undid it after a
// write failed (disk full, I/O error), so every later write and the commit
// fail until TxRollback ends it.
bool TxLost();

namespace detail {
// Property 29441 of a file: enlisted in the open transaction or marked for
// the next one. Setting gives a runtime code.
bool TxMarked(const File& file);
int TxMark(File& file, bool on);
// The file is closing: it leaves the transaction (see above).
void TxForget(File& file);
}  // namespace detail

}  // namespace rt
