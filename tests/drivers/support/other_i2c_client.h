/* For driver tests: another driver's client that answers command 5 with a fixed sample. */
#ifndef OTHER_I2C_CLIENT_H
#define OTHER_I2C_CLIENT_H

#ifdef __cplusplus
extern "C" {
#endif

/* 0, or the I2C core's error. */
int other_i2c_client_attach(int bus, unsigned short address, short x, short y, short z);
void other_i2c_client_detach(void);

#ifdef __cplusplus
}
#endif

#endif
