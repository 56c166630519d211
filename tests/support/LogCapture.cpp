// placeholder until the logger lands
