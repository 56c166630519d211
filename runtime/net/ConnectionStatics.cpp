// The process-wide tuning values shared by every connection.
#include "Connection.h"

uint16_t CConnection::s_pulseRate = 1800;
uint16_t CConnection::s_maxLag = 500;
uint16_t CConnection::s_absurdLag = 5000;
int CConnection::s_outboundBundleSize = 10000;
int CConnection::s_outboundSizeWarning = 80000;
int CConnection::s_outboundTimeout = 180;
float CConnection::s_outboundTimerOffFactor = 0.5f;
int CConnection::s_outboundSizeLimit = 8388608;
uint16_t CConnection::s_maxUDPPacketSize = 1024;
uint64_t CConnection::s_timerFreq = 0;
