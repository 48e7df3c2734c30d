ardour {
	["type"]    = "dsp",
	name        = "Vobrel Test Signal",
	category    = "Utility",
	license     = "GPLv3",
	author      = "Ferrowood Audio",
	description = [[Writes a known signal, a function of the timeline position only, so that an export can be checked sample by sample.]]
}

-- Value for (seed, channel, timeline sample): a hash, never zero or denormal.
-- The checker computes the same numbers; keep both in step.
function dsp_params ()
	return
	{
		{ ["type"] = "input", name = "Seed", min = 0, max = 100, default = 1, integer = true },
	}
end

function dsp_ioconfig ()
	return { { audio_in = -1, audio_out = -1 } }
end

function dsp_init (rate)
end

local values = {}

function dsp_run (ins, outs, n_samples)
	local seed = math.floor (CtrlPorts:array ()[1] + 0.5)
	-- Where this cycle starts on the timeline: the signal ignores what came in.
	local pos = math.floor (Session:transport_sample ())

	for c = 1, #outs do
		for i = 1, n_samples do
			local n = pos + i - 1
			local h = (n * 2654435761 + seed * 97 + (c - 1) * 7919) % 1000003
			values[i] = (h + 0.5) / 1000003 - 0.5
		end
		outs[c]:set_table (values, n_samples)
	end
end
