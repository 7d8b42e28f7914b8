// The controller's command protocol on serial port 1: an external controller (a fleet box, a
// taxi meter, a service laptop) reads and changes the recording and G-sensor settings, asks for
// an event recording, the record status and the firmware version. The frames are defined in
// serial/rd_frame.h.
//
// rd_com_thread serves the port. It is not one of the eight workers: the program starts it
// beside them only when told that a controller is fitted (RecorderSetController). It talks to
// the supervisor through pipe 10 (sender 50) and takes the supervisor's replies on pipe 50.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/msg_pipe.h"
#include "core/threads.h"
#include "serial/rd_frame.h"

#define RD_COM_TAG "RD_COMM_"
#define RD_COM_PORT_INDEX 1
#define RD_COM_BUFFER_SIZE 1024

int rd_com_thread(THREAD_INFO* info);

// Sums the bytes modulo 256 and stores the negation; always 0.
int GetCheckSum(const uint8_t* bytes, int count, uint8_t* out);
// Feeds the bytes to the receiver, which keeps its state between calls. 0 when a frame with a
// good checksum completed within these bytes (the last one when several did, copied to frame),
// -1 otherwise.
int DecodeRDCommand(const uint8_t* bytes, int count, rd::Frame* frame);
// Back to waiting for a start byte (at the thread's start).
void RdComResetReceiver();

// The handlers of the three commands; each answers on the port as the command asks.
int ProcessDataRequest(THREAD_INFO* info, const rd::Frame* frame);
int ProcessConfigUpdate(THREAD_INFO* info, const rd::Frame* frame);
int ProcessControlRequest(THREAD_INFO* info, const rd::Frame* frame);
// Dispatches a decoded frame on its command byte.
void RdComDispatch(THREAD_INFO* info, const rd::Frame* frame);

// Responses on the port. Each gives 0 when the whole frame was written, -1 otherwise.
int SendAck();
int SendNack();
int SendRecordingSettingsFrame(const RecorderSettings* settings);
int SendGsensorSettingsFrame(const RecorderSettings* settings);
int SendVersionFrame();
int SendRecordStatusFrame(const rd::RecordStatus* status);
// The firmware version of /version ("VERSION=KVOX_1.2.3.RC4"); zeros when it is missing or
// named otherwise.
rd::Version ReadFirmwareVersion();

// The handle of the open port that the responses go to (0: none, writes do nothing).
void RdComSetPort(int handle);
int RdComPort();

// Handles one message of pipe 50 (a supervisor's reply): the record status or settings frame.
void RdComHandleReply(THREAD_INFO* info, const MsgRecord& m);

// Runs the receiver over arbitrary bytes from a fresh state, in pieces as reads deliver them,
// and checks every frame that comes out: the entry point for fuzzing the frame decoder. The
// number of frames, or -1 when one did not hold together.
int RdComFuzzDecode(const uint8_t* data, size_t size);
