-- Runs Vobrel in an Ardour session without GUI (ardour7-lua).
--
-- usage: ardour7-lua vobrel_session.lua create|reopen VST3|LV2 SESSION_DIR SESSION_NAME PLUGIN_ID EXPORT_START EXPORT_FRAMES
--
-- create: a 48 kHz session; track "Main" plays the known signal (seed 1) through
--         Vobrel; track "Key" plays another (seed 2) into Vobrel's sidechain only.
--         The transport rolls, stops and relocates, then the session exports and is saved.
-- reopen: loads the saved session, checks that Vobrel is still in place with its
--         sidechain, and exports again.
-- Prints "E2E DONE" last; the caller judges by that line and the exported files,
-- since Ardour may crash in its own teardown afterwards.

local mode, format, dir, name, plugin_id = arg[1], arg[2], arg[3], arg[4], arg[5]
local export_start, export_frames = tonumber (arg[6]), tonumber (arg[7])
local float_preset = "2b7d4c58-0e3a-4f7e-8c61-5a9e1f0d3b27"
local audio = ARDOUR.DataType ("Audio")
local ui = ARDOUR.TransportRequestSource.TRS_UI

assert (mode == "create" or mode == "reopen", "mode")
assert (format == "VST3" or format == "LV2", "format")
assert (dir and name and plugin_id and export_start and export_frames, "arguments")

local function fail (message)
	print ("E2E FAILED: " .. message)
	error (message, 0)
end

local function check (condition, message)
	if not condition then fail (message) end
end

-- Waits for the engine thread, never longer than about ten seconds.
local function wait_until (what, condition)
	for _ = 1, 1000 do
		if condition () then return end
		ARDOUR.LuaAPI.usleep (10000)
	end
	fail ("timed out waiting for " .. what)
end

-- Names every plug-in binary (a file in a .vst3 or .lv2 bundle) mapped into this
-- process: the caller checks that Vobrel's is the one under test.
local function print_plugin_binaries ()
	local maps = io.open ("/proc/self/maps")
	check (maps, "cannot read /proc/self/maps")
	local seen = {}
	for line in maps:lines () do
		local path = line:match ("%s(/%S.*)$")
		if path and not seen[path] and (path:find ("%.vst3/") or path:find ("%.lv2/")) then
			seen[path] = true
			print ("E2E BINARY " .. path)
		end
	end
	maps:close ()
end

local function start_engine ()
	local backend = AudioEngine:set_backend ("None (Dummy)", "", "")
	check (backend and not backend:isnil (), "no dummy backend")
	backend:set_driver ("10x Speed")
	backend:set_device_name ("Silence")
	backend:set_sample_rate (48000)
	check (AudioEngine:start (false) == 0, "engine did not start")
end

local function find_vobrel (route)
	for i = 0, 64 do
		local p = route:nth_plugin (i)
		if p:isnil () then break end
		if p:display_name () == "Vobrel" then return p, i end
	end
	return nil
end

local function export (label)
	local e = Session:simple_export ()
	e:set_name (label)
	e:set_range (export_start, export_start + export_frames)
	check (e:set_preset (float_preset), "float export preset not found")
	check (e:check_outputs (), "nothing to export")
	check (e:run_export (), "export failed")
	print ("exported " .. label)
end

local function describe_sidechain (insert)
	local sc = insert:sidechain_input ()
	check (not sc:isnil (), "Vobrel has no sidechain input")
	check (sc:n_ports ():n_audio () == 2, "sidechain input should have 2 ports")

	local map = insert:input_map (0)
	for pin = 0, 3 do
		check (map:get (audio, pin, false) == pin, "input pin " .. pin .. " should read buffer " .. pin)
	end

	for c = 0, 1 do
		check (sc:audio (c):connected (), "sidechain port " .. c .. " is not connected")
	end
end

start_engine ()

if mode == "create" then
	check (create_session (dir, name, 48000), "cannot create the session")
	check (Session:nominal_sample_rate () == 48000, "session rate")

	local function track (track_name, seed)
		local t = Session:new_audio_track (2, 2, nil, 1, track_name, ARDOUR.PresentationInfo.max_order,
		                                   ARDOUR.TrackMode.Normal, true):front ()
		check (not t:isnil (), "cannot add track " .. track_name)
		local g = ARDOUR.LuaAPI.new_luaproc (Session, "Vobrel Test Signal")
		check (not g:isnil (), "test signal script not found")
		check (t:add_processor_by_index (g, 0, nil, true) == 0, "cannot add the test signal")
		check (ARDOUR.LuaAPI.set_processor_param (g, 0, seed), "cannot set the seed")
		return t
	end

	local main = track ("Main", 1)
	local key = track ("Key", 2)

	local kind = format == "VST3" and ARDOUR.PluginType.VST3 or ARDOUR.PluginType.LV2
	local p = ARDOUR.LuaAPI.new_plugin (Session, plugin_id, kind, "")
	check (not p:isnil (), format .. " Vobrel cannot be instantiated")
	check (main:add_processor_by_index (p, 1, nil, true) == 0, "cannot insert Vobrel")

	local insert = p:to_plugininsert ()
	check (main:add_sidechain (p), "cannot add a sidechain input")

	if format == "LV2" then
		-- The LV2 bundle does not mark its sidechain ports as such: give the
		-- sidechain input a second port and map pins 2 and 3 to it by hand.
		local sc = insert:sidechain_input ()
		if sc:n_ports ():n_audio () < 2 then
			check (sc:add_port ("", nil, audio) == 0, "cannot add a sidechain port")
		end
		local cm = ARDOUR.ChanMapping ()
		for pin = 0, 3 do cm:set (audio, pin, pin) end
		insert:set_input_map (0, cm)
	end

	-- "Key" reaches Vobrel only through a send into its sidechain, never the master bus.
	local send = ARDOUR.LuaAPI.new_send (Session, key, key:amp ())
	check (not send:isnil (), "cannot add the sidechain send")
	local send_out = send:to_send ():output ()
	local sc = insert:sidechain_input ()
	for c = 0, 1 do
		check (send_out:audio (c):connect (sc:audio (c):name ()) == 0, "cannot connect the sidechain send")
	end
	key:output ():disconnect_all (nil)

	describe_sidechain (insert)

	-- Roll, stop, relocate and roll again, as a user would, before exporting.
	Session:request_locate (0, false, ARDOUR.LocateTransportDisposition.MustStop, ui)
	wait_until ("locate to 0", function () return Session:transport_sample () == 0 and Session:transport_stopped () end)
	Session:request_roll (ui)
	wait_until ("roll", function () return Session:transport_sample () >= 48000 end)
	Session:request_stop (false, false, ui)
	wait_until ("stop", function () return Session:transport_stopped () end)
	Session:request_locate (480000, false, ARDOUR.LocateTransportDisposition.MustRoll, ui)
	wait_until ("roll after relocating", function () return Session:transport_sample () >= 480000 + 24000 end)
	Session:request_locate (24000, false, ARDOUR.LocateTransportDisposition.RollIfAppropriate, ui)
	wait_until ("relocate while rolling", function ()
		local t = Session:transport_sample ()
		return t >= 24000 + 12000 and t < 480000
	end)
	Session:request_stop (false, false, ui)
	wait_until ("second stop", function () return Session:transport_stopped () end)
	print (string.format ("transport stopped at %d", Session:transport_sample ()))

	export (format .. "-created")
	check (insert:active (), "Vobrel is not active")
	check (Session:save_state ("", false, false, false, false, false) == 0, "cannot save the session")
	print ("saved")
else
	check (load_session (dir, name), "cannot reopen the session")

	local main = Session:route_by_name ("Main")
	check (not main:isnil (), "track Main is missing")
	local p, index = find_vobrel (main)
	check (p ~= nil, "Vobrel is missing after reopening")
	check (index == 1, "Vobrel moved to position " .. tostring (index))

	local insert = p:to_plugininsert ()
	check (insert:active (), "Vobrel is not active after reopening")
	local plugin = insert:plugin (0)
	check (plugin:name () == "Vobrel", "plug-in name " .. plugin:name ())
	check (plugin:unique_id () == plugin_id, "plug-in id " .. plugin:unique_id ())
	local kind = format == "VST3" and ARDOUR.PluginType.VST3 or ARDOUR.PluginType.LV2
	check (insert:type () == kind, "plug-in type changed")
	describe_sidechain (insert)
	print ("reopened with Vobrel in place")

	export (format .. "-reopened")
end

print_plugin_binaries ()
print ("E2E DONE")
