// The I2C core with the legacy driver model, and the buses the board's chip models sit on.
#include "kernel/internal.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "kernel/include/linux/i2c.h"
#include "kernel/include/linux/kernel.h"
#include "kernel/include/linux/module.h"

namespace sim::kernel {
namespace {

struct Bus {
  i2c_adapter* adapter = nullptr;
  std::vector<i2c_client*> clients;
  std::map<uint16_t, std::shared_ptr<I2cDevice>> devices;
  std::mutex transfer;  // one transfer at a time on a bus
};

struct I2cState {
  std::recursive_mutex lists;  // drivers' callbacks may call back into the core
  std::map<int, std::unique_ptr<Bus>> buses;
  std::vector<i2c_driver*> drivers;
};

I2cState& i2c() {
  static I2cState s;
  return s;
}

Bus* busOf(const i2c_adapter* adapter) {
  for (auto& [nr, bus] : i2c().buses) {
    if (bus->adapter == adapter) return bus.get();
  }
  return nullptr;
}

bool addressUsed(const Bus& bus, int address) {
  return std::any_of(bus.clients.begin(), bus.clients.end(),
                     [address](const i2c_client* c) { return c->addr == address; });
}

// Whether an (adapter, address) pair list holds the pair; the lists end with I2C_CLIENT_END.
bool pairListed(const unsigned short* list, int nr, int address) {
  for (int i = 0; list && list[i] != I2C_CLIENT_END && list[i + 1] != I2C_CLIENT_END; i += 2) {
    if ((list[i] == nr || list[i] == 0xffffu) && list[i + 1] == address) return true;
  }
  return false;
}

}  // namespace

void addI2cAdapter(int nr, const std::string& name) {
  std::vector<i2c_driver*> drivers;
  i2c_adapter* adapter;
  {
    std::lock_guard<std::recursive_mutex> lock(i2c().lists);
    auto bus = std::make_unique<Bus>();
    adapter = new i2c_adapter();
    adapter->nr = nr;
    snprintf(adapter->name, sizeof adapter->name, "%s", name.c_str());
    bus->adapter = adapter;
    i2c().buses[nr] = std::move(bus);
    drivers = i2c().drivers;
  }
  for (i2c_driver* d : drivers) {
    if (d->attach_adapter) d->attach_adapter(adapter);
  }
}

void attachI2cDevice(int nr, uint16_t address, std::shared_ptr<I2cDevice> device) {
  std::lock_guard<std::recursive_mutex> lock(i2c().lists);
  auto it = i2c().buses.find(nr);
  if (it != i2c().buses.end()) it->second->devices[address] = std::move(device);
}

void detachI2cDevice(int nr, uint16_t address) {
  std::lock_guard<std::recursive_mutex> lock(i2c().lists);
  auto it = i2c().buses.find(nr);
  if (it != i2c().buses.end()) it->second->devices.erase(address);
}

void resetI2c() {
  std::lock_guard<std::recursive_mutex> lock(i2c().lists);
  for (auto& [nr, bus] : i2c().buses) delete bus->adapter;
  i2c().buses.clear();
  i2c().drivers.clear();
}

}  // namespace sim::kernel

using namespace sim::kernel;

extern "C" {

int i2c_register_driver(struct module* owner, struct i2c_driver* driver) {
  std::vector<i2c_adapter*> adapters;
  {
    std::lock_guard<std::recursive_mutex> lock(i2c().lists);
    driver->driver.owner = owner;
    i2c().drivers.push_back(driver);
    for (auto& [nr, bus] : i2c().buses) adapters.push_back(bus->adapter);
  }
  for (i2c_adapter* a : adapters) {
    if (driver->attach_adapter) driver->attach_adapter(a);
  }
  return 0;
}

int i2c_del_driver(struct i2c_driver* driver) {
  std::lock_guard<std::recursive_mutex> lock(i2c().lists);
  for (auto& [nr, bus] : i2c().buses) {
    if (driver->detach_adapter) {
      if (driver->detach_adapter(bus->adapter) != 0) {
        printk(KERN_ERR "i2c-core: detach_adapter failed for driver [%s]\n", driver->driver.name);
      }
      continue;
    }
    std::vector<i2c_client*> mine;
    for (i2c_client* c : bus->clients) {
      if (c->driver == driver) mine.push_back(c);
    }
    for (i2c_client* c : mine) {
      if (driver->detach_client && driver->detach_client(c) != 0) {
        printk(KERN_ERR "i2c-core: detach_client failed for client [%s] at 0x%02x\n", c->name, c->addr);
      }
    }
  }
  auto& d = i2c().drivers;
  d.erase(std::remove(d.begin(), d.end(), driver), d.end());
  return 0;
}

int i2c_probe(struct i2c_adapter* adapter, const struct i2c_client_address_data* address_data,
              int (*found_proc)(struct i2c_adapter*, int, int)) {
  std::vector<std::pair<int, int>> found;  // address, kind
  {
    std::lock_guard<std::recursive_mutex> lock(i2c().lists);
    Bus* bus = busOf(adapter);
    if (bus == nullptr) return -ENODEV;
    int nr = adapter->nr;
    std::set<int> seen;
    // Forced addresses are taken as present, with the kind of their list.
    for (int kind = 0; address_data->forces && address_data->forces[kind]; ++kind) {
      const unsigned short* list = address_data->forces[kind];
      for (int i = 0; list[i] != I2C_CLIENT_END && list[i + 1] != I2C_CLIENT_END; i += 2) {
        if ((list[i] == nr || list[i] == 0xffffu) && !addressUsed(*bus, list[i + 1])) {
          found.emplace_back(list[i + 1], kind);
          seen.insert(list[i + 1]);
        }
      }
    }
    auto detect = [&](int address) {
      if (seen.count(address) || addressUsed(*bus, address)) return;
      if (pairListed(address_data->ignore, nr, address)) return;
      if (bus->devices.count(static_cast<uint16_t>(address)) == 0) return;  // no acknowledge
      found.emplace_back(address, -1);
      seen.insert(address);
    };
    for (int i = 0; address_data->normal_i2c && address_data->normal_i2c[i] != I2C_CLIENT_END; ++i) {
      detect(address_data->normal_i2c[i]);
    }
    const unsigned short* extra = address_data->probe;
    for (int i = 0; extra && extra[i] != I2C_CLIENT_END && extra[i + 1] != I2C_CLIENT_END; i += 2) {
      if (extra[i] == nr || extra[i] == 0xffffu) detect(extra[i + 1]);
    }
  }
  for (auto [address, kind] : found) {
    int result = found_proc(adapter, address, kind);
    if (result != 0 && result != -ENODEV) return result;
  }
  return 0;
}

int i2c_attach_client(struct i2c_client* client) {
  std::lock_guard<std::recursive_mutex> lock(i2c().lists);
  Bus* bus = busOf(client->adapter);
  if (bus == nullptr) return -ENODEV;
  if (addressUsed(*bus, client->addr)) return -EBUSY;
  bus->clients.push_back(client);
  INIT_LIST_HEAD(&client->list);
  return 0;
}

int i2c_detach_client(struct i2c_client* client) {
  std::lock_guard<std::recursive_mutex> lock(i2c().lists);
  Bus* bus = busOf(client->adapter);
  if (bus == nullptr) return -ENODEV;
  auto it = std::find(bus->clients.begin(), bus->clients.end(), client);
  if (it == bus->clients.end()) return -ENODEV;
  bus->clients.erase(it);
  return 0;
}

int i2c_transfer(struct i2c_adapter* adap, struct i2c_msg* msgs, int num) {
  Bus* bus;
  std::map<uint16_t, std::shared_ptr<I2cDevice>> devices;
  {
    std::lock_guard<std::recursive_mutex> lock(i2c().lists);
    bus = busOf(adap);
    if (bus == nullptr) return -ENODEV;
    devices = bus->devices;
  }
  std::lock_guard<std::mutex> busLock(bus->transfer);
  std::vector<I2cDevice*> touched;
  int result = num;
  for (int i = 0; i < num; ++i) {
    auto it = devices.find(msgs[i].addr);
    if (it == devices.end()) {
      result = -EREMOTEIO;
      break;
    }
    I2cDevice* chip = it->second.get();
    if (std::find(touched.begin(), touched.end(), chip) == touched.end()) touched.push_back(chip);
    int r = (msgs[i].flags & I2C_M_RD) ? chip->read(msgs[i].buf, msgs[i].len) : chip->write(msgs[i].buf, msgs[i].len);
    if (r < 0) {
      result = r;
      break;
    }
  }
  for (I2cDevice* chip : touched) chip->stop();
  return result;
}

int i2c_master_send(struct i2c_client* client, const char* buf, int count) {
  i2c_msg msg = {client->addr, 0, static_cast<__u16>(count), reinterpret_cast<__u8*>(const_cast<char*>(buf))};
  int r = i2c_transfer(client->adapter, &msg, 1);
  return r == 1 ? count : r;
}

int i2c_master_recv(struct i2c_client* client, char* buf, int count) {
  i2c_msg msg = {client->addr, I2C_M_RD, static_cast<__u16>(count), reinterpret_cast<__u8*>(buf)};
  int r = i2c_transfer(client->adapter, &msg, 1);
  return r == 1 ? count : r;
}

void i2c_clients_command(struct i2c_adapter* adap, unsigned int cmd, void* arg) {
  std::vector<i2c_client*> clients;
  {
    std::lock_guard<std::recursive_mutex> lock(i2c().lists);
    Bus* bus = busOf(adap);
    if (bus == nullptr) return;
    clients = bus->clients;
  }
  for (i2c_client* c : clients) {
    if (c->driver && c->driver->command) c->driver->command(c, cmd, arg);
  }
}

struct i2c_adapter* i2c_get_adapter(int id) {
  std::lock_guard<std::recursive_mutex> lock(i2c().lists);
  auto it = i2c().buses.find(id);
  return it == i2c().buses.end() ? nullptr : it->second->adapter;
}

void i2c_put_adapter(struct i2c_adapter*) {}

s32 i2c_smbus_read_i2c_block_data(struct i2c_client* client, u8 command, u8 length, u8* values) {
  i2c_msg msgs[2] = {{client->addr, 0, 1, &command}, {client->addr, I2C_M_RD, length, values}};
  int r = i2c_transfer(client->adapter, msgs, 2);
  return r == 2 ? length : r;
}

s32 i2c_smbus_write_i2c_block_data(struct i2c_client* client, u8 command, u8 length, const u8* values) {
  u8 buf[33];
  if (length > 32) return -EINVAL;
  buf[0] = command;
  memcpy(buf + 1, values, length);
  i2c_msg msg = {client->addr, 0, static_cast<__u16>(length + 1), buf};
  int r = i2c_transfer(client->adapter, &msg, 1);
  return r == 1 ? 0 : r;
}

s32 i2c_smbus_read_byte_data(struct i2c_client* client, u8 command) {
  u8 value = 0;
  s32 r = i2c_smbus_read_i2c_block_data(client, command, 1, &value);
  return r < 0 ? r : value;
}

s32 i2c_smbus_write_byte_data(struct i2c_client* client, u8 command, u8 value) {
  return i2c_smbus_write_i2c_block_data(client, command, 1, &value);
}

}  // extern "C"
